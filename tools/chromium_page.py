#!/usr/bin/env python3
"""One page in headless Chromium, driven over the DevTools protocol on a pipe (no extra
packages): open a URL, evaluate JavaScript, wait for a condition, take a screenshot.

    with ChromiumPage(800, 600) as page:
        page.open("http://127.0.0.1:2280/")
        page.wait_for("window.kelpmoorViewer !== undefined")
        png_bytes = page.screenshot()
"""

import base64
import fcntl
import json
import os
import subprocess
import tempfile
import time


def _as_fds_3_and_4(a, b):
    # Out of the way first: either pipe may already sit on descriptor 3 or 4.
    a, b = fcntl.fcntl(a, fcntl.F_DUPFD, 10), fcntl.fcntl(b, fcntl.F_DUPFD, 10)
    os.dup2(a, 3)
    os.dup2(b, 4)


class ChromiumPage:
    def __init__(self, width, height, timeout=60):
        self.width, self.height, self.timeout = width, height, timeout
        self.next_id, self.session = 0, None

    def __enter__(self):
        self.profile = tempfile.TemporaryDirectory()
        to_browser_r, self.to_browser = os.pipe()
        self.from_browser, from_browser_w = os.pipe()
        # The browser reads commands on its descriptor 3 and writes answers on 4.
        self.proc = subprocess.Popen(
            ["chromium", "--headless", "--no-sandbox", "--enable-unsafe-swiftshader",
             "--remote-debugging-pipe", "--user-data-dir=" + self.profile.name,
             "--window-size=%d,%d" % (self.width, self.height), "about:blank"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            pass_fds=(3, 4), preexec_fn=lambda: _as_fds_3_and_4(to_browser_r, from_browser_w))
        os.close(to_browser_r)
        os.close(from_browser_w)
        self.pending = b""
        target = self.call("Target.createTarget", url="about:blank")["targetId"]
        self.session = self.call("Target.attachToTarget", targetId=target,
                                 flatten=True)["sessionId"]
        self.call("Page.enable")
        self.call("Emulation.setDeviceMetricsOverride", width=self.width, height=self.height,
                  deviceScaleFactor=1, mobile=False)
        return self

    def __exit__(self, *exc):
        try:
            self.call("Browser.close", session=False)
        except (OSError, RuntimeError):
            pass
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        os.close(self.to_browser)
        os.close(self.from_browser)
        self.profile.cleanup()

    def call(self, method, session=True, **params):
        """The result of one protocol command; RuntimeError when the browser refuses it."""
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params}
        if session and self.session:
            message["sessionId"] = self.session
        os.write(self.to_browser, json.dumps(message).encode() + b"\0")
        deadline = time.monotonic() + self.timeout
        while True:
            while b"\0" not in self.pending:
                if time.monotonic() > deadline:
                    raise RuntimeError(method + ": no answer from the browser")
                chunk = os.read(self.from_browser, 1 << 20)
                if not chunk:
                    raise RuntimeError(method + ": the browser went away")
                self.pending += chunk
            line, _, self.pending = self.pending.partition(b"\0")
            answer = json.loads(line)
            if answer.get("id") == self.next_id:
                if "error" in answer:
                    raise RuntimeError(method + ": " + answer["error"].get("message", ""))
                return answer["result"]

    def before_load(self, script):
        """Runs script in every page opened later, before the page's own scripts."""
        self.call("Page.addScriptToEvaluateOnNewDocument", source=script)

    def open(self, url):
        self.call("Page.navigate", url=url)

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True,
                           awaitPromise=True)
        if "exceptionDetails" in result:
            raise RuntimeError(expression + ": " + json.dumps(result["exceptionDetails"]))
        return result["result"].get("value")

    def wait_for(self, expression, seconds=60):
        """Evaluates expression until it is true; False when seconds have passed first."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            try:
                if self.evaluate(expression):
                    return True
            except RuntimeError:
                pass  # the page is still loading
            time.sleep(0.2)
        return False

    def screenshot(self):
        """The page as PNG bytes."""
        return base64.b64decode(self.call("Page.captureScreenshot", format="png")["data"])
