"""A build backend for the kelpmoor package with the standard library only: a pure-Python wheel
of kelpmoor/, a source archive, and editable installs through a .pth file."""

import base64
import io
import hashlib
import os
import tarfile
import zipfile

NAME = "kelpmoor"
VERSION = "0.2.0"
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DIST_INFO = f"{NAME}-{VERSION}.dist-info"
TAG = "py3-none-any"

METADATA = f"""Metadata-Version: 2.1
Name: {NAME}
Version: {VERSION}
Summary: Client for the Kelpmoor turtle arena: one connection drives one turtle
Requires-Python: >=3.8
License: MIT
"""
WHEEL = f"Wheel-Version: 1.0\nGenerator: kelpmoor_build\nRoot-Is-Purelib: true\nTag: {TAG}\n"


def _record_line(path, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{path},sha256={digest},{len(data)}"


def _write_wheel(wheel_directory, files):
    """files: {path in the wheel: bytes}; adds the dist-info and returns the wheel's name."""
    files = dict(files)
    files[f"{DIST_INFO}/METADATA"] = METADATA.encode()
    files[f"{DIST_INFO}/WHEEL"] = WHEEL.encode()
    record = [_record_line(p, d) for p, d in files.items()] + [f"{DIST_INFO}/RECORD,,"]
    files[f"{DIST_INFO}/RECORD"] = ("\n".join(record) + "\n").encode()
    name = f"{NAME}-{VERSION}-{TAG}.whl"
    with zipfile.ZipFile(os.path.join(wheel_directory, name), "w", zipfile.ZIP_DEFLATED) as z:
        for path, data in files.items():
            z.writestr(path, data)
    return name


def _package_files():
    pkg = os.path.join(ROOT, NAME)
    out = {}
    for entry in sorted(os.listdir(pkg)):
        if entry.endswith(".py"):
            with open(os.path.join(pkg, entry), "rb") as f:
                out[f"{NAME}/{entry}"] = f.read()
    return out


def get_requires_for_build_wheel(config_settings=None):
    return []


get_requires_for_build_sdist = get_requires_for_build_editable = get_requires_for_build_wheel


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    return _write_wheel(wheel_directory, _package_files())


def build_editable(wheel_directory, config_settings=None, metadata_directory=None):
    return _write_wheel(wheel_directory, {f"{NAME}.pth": (ROOT + "\n").encode()})


def build_sdist(sdist_directory, config_settings=None):
    base = f"{NAME}-{VERSION}"
    name = f"{base}.tar.gz"
    with tarfile.open(os.path.join(sdist_directory, name), "w:gz") as tar:
        for rel in ("pyproject.toml", "_build/kelpmoor_build.py", *_package_files()):
            tar.add(os.path.join(ROOT, rel), arcname=f"{base}/{rel}")
        info = tarfile.TarInfo(f"{base}/PKG-INFO")
        data = METADATA.encode()
        info.size = len(data)
        tar.addfile(info, io.BytesIO(data))
    return name
