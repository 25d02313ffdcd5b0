#!/usr/bin/env python3
"""Runs a command against a real Kelpmoor: starts the program on two free ports, waits until
its command port listens, runs the command with KELPMOOR_PORT set, then stops the program.

    arena.py path/to/kelpmoor -- command args...

The program gets an X server of its own (Xvfb, when installed), so that its window is the only
one there and no other test's window covers it; the command runs on the same display. The
program's HOME is a fresh directory where its captures and its log (kelpmoor.log) land; the
command gets it as KELPMOOR_HOME. Exit status: the command's, or 1 when the arena does not come
up or ended by itself with another status than 0.

The tests beside it import its helpers: a line-oriented connection and a PNG reader.
"""

import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import zlib

# Sanitizer builds start slowly, and the machine may be busy.
START_SECONDS = float(os.environ.get("KELPMOOR_START_SECONDS", "90"))


def fenced_blocks(markdown, language):
    """(first line number, [(line number, line)]) per ```language block; an unterminated block
    stops the check."""
    found, current = [], None
    for number, line in enumerate(markdown.splitlines(), 1):
        if current is None:
            if line.strip() == "```" + language:
                current = (number, [])
        elif line.strip() == "```":
            found.append(current)
            current = None
        else:
            current[1].append((number, line))
    if current is not None:
        raise SystemExit(f"line {current[0]}: unterminated example block")
    return found


def matcher(text, placeholders):
    """A whole-line regular expression for text, each {name} of placeholders standing for its
    expression."""
    parts = re.split(r"\{(" + "|".join(placeholders) + r")\}", text)
    return re.compile("^" + "".join(placeholders[p] if i % 2 else re.escape(p)
                                    for i, p in enumerate(parts)) + "$")


def clear_until(conn, turtles, timeout):
    """Clears the field until it holds this many turtles: an earlier connection's turtle
    becomes a zombie, which C A removes, only once the server has seen that connection close."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        conn.send("C A;Q N")
        conn.line()
        if conn.line().split()[0] == str(turtles):
            return
        time.sleep(0.05)


def report_examples(path, found, failures_of, what):
    """Runs failures_of(start, lines) over the found blocks and reports: the exit status."""
    if not found:
        print(f"{path}: no examples", file=sys.stderr)
        return 1
    failures = [f for start, lines in found for f in failures_of(start, lines)]
    for f in failures:
        print(f"{path}: {f}", file=sys.stderr)
    print(f"{len(found)} {what}, {len(failures)} failures")
    return 1 if failures else 0


def free_ports(n):
    socks = [socket.create_server(("127.0.0.1", 0)) for _ in range(n)]
    ports = [s.getsockname()[1] for s in socks]
    for s in socks:
        s.close()
    return ports


def listening(port):
    """True when some socket listens on port. Read from /proc, since connecting would give the
    arena a client and leave a zombie turtle behind."""
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            with open(table) as f:
                next(f)
                for line in f:
                    fields = line.split()
                    if fields[3] == "0A" and int(fields[1].rsplit(":", 1)[1], 16) == port:
                        return True
        except OSError:
            pass
    return False


def start_x_server():
    """(process, ":n") of a new Xvfb, or (None, None) without one."""
    xvfb = shutil.which("Xvfb")
    if xvfb is None:
        return None, None
    read_end, write_end = os.pipe()
    proc = subprocess.Popen([xvfb, "-displayfd", str(write_end), "-screen", "0", "800x600x24",
                             "-nolisten", "tcp"], pass_fds=(write_end,),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as f:
        number = f.readline().strip()
    if not number:
        proc.kill()
        proc.wait()
        return None, None
    return proc, ":" + number


def stop(proc, group=False):
    """Ends proc (and its process group when it leads one)."""
    if proc is None or proc.poll() is not None:
        return
    kill = (lambda sig: os.killpg(proc.pid, sig)) if group else proc.send_signal
    kill(signal.SIGTERM)
    try:
        proc.wait(10)
    except subprocess.TimeoutExpired:
        kill(signal.SIGKILL)
        proc.wait()


class Connection:
    """A client of a server on 127.0.0.1:port, read a line or a number of bytes at a time."""

    def __init__(self, port, timeout):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=timeout)
        self.pending = b""

    def send(self, text):
        self.sock.sendall(text.encode("latin-1") + b"\n")

    def more(self):
        chunk = self.sock.recv(65536)
        if not chunk:
            raise ConnectionError("the server closed the connection")
        self.pending += chunk

    def line(self):
        while b"\n" not in self.pending:
            self.more()
        line, _, self.pending = self.pending.partition(b"\n")
        return line.decode("latin-1")

    def take(self, n):
        while len(self.pending) < n:
            self.more()
        out, self.pending = self.pending[:n], self.pending[n:]
        return out

    def ask(self, text):
        self.send(text)
        return self.line()


def read_png(data):
    """(width, height, rows of (r, g, b)) of an 8-bit RGB or RGBA PNG."""
    pos, idat = 8, b""
    while pos < len(data):
        n, kind = struct.unpack(">I4s", data[pos:pos + 8])
        if kind == b"IHDR":
            w, h, depth, colour = struct.unpack(">IIBB", data[pos + 8:pos + 18])
        elif kind == b"IDAT":
            idat += data[pos + 8:pos + 8 + n]
        pos += 12 + n
    if depth != 8 or colour not in (2, 6):
        raise SystemExit(f"unexpected PNG format: depth {depth}, colour type {colour}")
    bpp = 3 if colour == 2 else 4
    raw, stride, rows, prev, i = zlib.decompress(idat), w * bpp, [], bytearray(w * bpp), 0
    for _ in range(h):
        f, row = raw[i], bytearray(raw[i + 1:i + 1 + stride])
        i += 1 + stride
        for x in range(stride):
            a, b = row[x - bpp] if x >= bpp else 0, prev[x]
            c = prev[x - bpp] if x >= bpp else 0
            if f == 1:
                row[x] = (row[x] + a) & 255
            elif f == 2:
                row[x] = (row[x] + b) & 255
            elif f == 3:
                row[x] = (row[x] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                row[x] = (row[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append([tuple(row[x:x + 3]) for x in range(0, stride, bpp)])
        prev = row
    return w, h, rows


def main(argv):
    if len(argv) < 4 or argv[2] != "--":
        print(__doc__, file=sys.stderr)
        return 2
    program, command = argv[1], argv[3:]
    port, http_port = free_ports(2)
    home = tempfile.mkdtemp(prefix="kelpmoor-arena-")
    xserver, display = start_x_server()
    base = dict(os.environ, KELPMOOR_PORT=str(port), KELPMOOR_HTTP_PORT=str(http_port))
    if display:
        base["DISPLAY"] = display
    log_path = os.path.join(home, "kelpmoor.log")
    with open(log_path, "wb") as log:
        arena = subprocess.Popen([program], env=dict(base, HOME=home), stdout=log,
                                 stderr=subprocess.STDOUT, start_new_session=True)
    show_log = False
    try:
        deadline = time.monotonic() + START_SECONDS
        while not (listening(port) and listening(http_port)):
            if arena.poll() is not None or time.monotonic() > deadline:
                print(f"arena.py: kelpmoor did not listen on ports {port} and {http_port}",
                      file=sys.stderr)
                show_log = True
                return 1
            time.sleep(0.1)
        status = subprocess.call(command, env=dict(base, KELPMOOR_HOME=home))
        try:
            ended = arena.wait(10) if arena.poll() is None and not listening(port) else arena.poll()
        except subprocess.TimeoutExpired:
            ended = None
        if ended not in (None, 0):
            print(f"arena.py: kelpmoor ended by itself with status {ended}", file=sys.stderr)
            status = status or 1
        show_log = status != 0 or bool(os.environ.get("KELPMOOR_ARENA_LOG"))
        return status
    finally:
        stop(arena, group=True)
        stop(xserver)
        if show_log:
            with open(log_path, errors="replace") as f:
                sys.stderr.write("---- kelpmoor's output ----\n" + f.read()[-20000:])
        shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
