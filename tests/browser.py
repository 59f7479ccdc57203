"""Headless Debian Chromium driven through its DevTools protocol, and a plain
static server on 127.0.0.1: what the browser tests of the page (tests/web_test.py)
need. Run with Debian's /usr/bin/python3, which sees python3-websocket."""

import functools
import http.server
import json
import os
import shutil
import subprocess
import tempfile
import threading
import time
import urllib.request

import websocket

CHROMIUM_FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--autoplay-policy=no-user-gesture-required", "--remote-debugging-port=0",
    "--window-size=1280,960",
]


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


class Server:
    """python3 -m http.server's handler on a free port of 127.0.0.1, in a thread."""

    def __init__(self, folder):
        handler = functools.partial(QuietHandler, directory=folder)
        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        self.url = "http://127.0.0.1:%d/" % self.httpd.server_address[1]
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()


class Browser:
    """One Chromium with a fresh profile and one page, closed with the object."""

    def __init__(self, extra_flags=()):
        self.profile = tempfile.mkdtemp(prefix="bumpwave-chromium-")
        self.process = subprocess.Popen(
            ["chromium", *CHROMIUM_FLAGS, *extra_flags, "--user-data-dir=" + self.profile,
             "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        port_file = os.path.join(self.profile, "DevToolsActivePort")
        for _ in range(300):
            if os.path.exists(port_file) and open(port_file).read().count("\n") >= 1:
                break
            if self.process.poll() is not None:
                raise RuntimeError("chromium ended at start")
            time.sleep(0.1)
        port = int(open(port_file).read().split()[0])
        targets = json.load(urllib.request.urlopen("http://127.0.0.1:%d/json" % port))
        page = next(t for t in targets if t["type"] == "page")
        self.socket = websocket.create_connection(page["webSocketDebuggerUrl"], timeout=60,
                                                  suppress_origin=True)
        self.next_id = 0
        self.call("Page.enable")
        self.call("Runtime.enable")

    def call(self, method, **params):
        self.next_id += 1
        self.socket.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            message = json.loads(self.socket.recv())
            if message.get("id") == self.next_id:
                if "error" in message:
                    raise RuntimeError("%s: %s" % (method, message["error"]))
                return message["result"]

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True,
                           awaitPromise=True)
        if "exceptionDetails" in result:
            raise RuntimeError("%s: %s" % (expression, result["exceptionDetails"]))
        return result["result"].get("value")

    def open(self, url):
        self.call("Page.navigate", url=url)
        # Ready once the demo's runtime has enabled the start button.
        if not self.wait_for("document.readyState === 'complete' && window.bumpwave !== undefined"
                             " && !document.getElementById('start').disabled", 60):
            raise RuntimeError("the page never became ready: " + url)

    def wait_for(self, expression, seconds):
        """Polls `expression` until it is true; its last value when time runs out."""
        end = time.monotonic() + seconds
        while True:
            value = self.evaluate(expression)
            if value or time.monotonic() > end:
                return value
            time.sleep(0.1)

    def key(self, key, code):
        for kind in ("keyDown", "keyUp"):
            self.call("Input.dispatchKeyEvent", type=kind, key=key, code=code,
                      windowsVirtualKeyCode=27 if key == "Escape" else ord(key.upper()))

    def close(self):
        try:
            self.socket.close()
        except Exception:
            pass
        os.killpg(self.process.pid, 9)
        self.process.wait()
        shutil.rmtree(self.profile, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *args):
        self.close()
