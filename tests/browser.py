"""Headless Chromium driven through its DevTools protocol, and a static server on
127.0.0.1. Run with Debian's /usr/bin/python3, which sees python3-websocket."""

import json
import os
import shutil
import subprocess
import tempfile
import threading
import time
import sys
import urllib.request

import websocket

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "web"))
import serve  # noqa: E402

CHROMIUM_FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--autoplay-policy=no-user-gesture-required", "--remote-debugging-port=0",
    "--window-size=1280,960",
]


class Server:
    """web.sh's own server on a free port of 127.0.0.1, in a thread."""

    def __init__(self, folder):
        self.server = serve.server(folder, 0)
        self.url = "http://127.0.0.1:%d/" % self.server.server_address[1]
        self.file_url = "file://%s/index.html" % folder  # the page opened as a file
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class Browser:
    """One Chromium with a fresh profile and one page, closed with the object; `scripts` run
    in each document before its own."""

    def __init__(self, *scripts):
        self.profile = tempfile.mkdtemp(prefix="bumpwave-chromium-")
        self.process = subprocess.Popen(
            ["chromium", *CHROMIUM_FLAGS, "--user-data-dir=" + self.profile, "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        port_file = os.path.join(self.profile, "DevToolsActivePort")
        for _ in range(300):
            if os.path.exists(port_file) and open(port_file).read().count("\n") >= 1:
                break
            if self.process.poll() is not None:
                raise RuntimeError("chromium ended at start")
            time.sleep(0.1)
        port = int(open(port_file).read().split()[0])
        page = next(t for t in json.load(urllib.request.urlopen("http://127.0.0.1:%d/json" % port))
                    if t["type"] == "page")
        self.socket = websocket.create_connection(page["webSocketDebuggerUrl"], timeout=60,
                                                  suppress_origin=True)
        self.next_id = 0
        self.workers = []  # the sessions of the page's workers, once Target.setAutoAttach asks for them
        for script in scripts:
            self.call("Page.enable")
            self.call("Page.addScriptToEvaluateOnNewDocument", source=script)

    def call(self, method, session=None, **params):
        """`method` of the page, or of the worker whose session is `session`."""
        self.next_id += 1
        self.socket.send(json.dumps({"id": self.next_id, "method": method, "params": params,
                                     **({"sessionId": session} if session else {})}))
        while True:
            message = json.loads(self.socket.recv())
            if message.get("method") == "Target.attachedToTarget" and \
                    message["params"]["targetInfo"]["type"] == "worker":
                self.workers.append(message["params"]["sessionId"])
            if message.get("id") == self.next_id:
                if "error" in message:
                    raise RuntimeError("%s: %s" % (method, message["error"]))
                return message["result"]

    def evaluate(self, expression, session=None):
        result = self.call("Runtime.evaluate", session, expression=expression, returnByValue=True,
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
        while not (value := self.evaluate(expression)) and time.monotonic() <= end:
            time.sleep(0.1)
        return value

    def key(self, key, code):
        codes = {"Escape": 27, "Enter": 13, " ": 32, "Home": 36, "ArrowLeft": 37, "ArrowRight": 39,
                 ",": 188, ".": 190}
        texts = {"Enter": "\r", " ": " "}
        for kind in ("keyDown", "keyUp"):
            self.call("Input.dispatchKeyEvent", type=kind, key=key, code=code,
                      windowsVirtualKeyCode=codes.get(key) or ord(key.upper()),
                      text=texts.get(key, "") if kind == "keyDown" else "")

    def device(self, width, height, ratio, mobile=False):
        """Emulates a screen of `width` × `height` CSS pixels at `ratio` device pixels each."""
        self.call("Emulation.setDeviceMetricsOverride", width=width, height=height,
                  deviceScaleFactor=ratio, mobile=mobile)

    def __enter__(self):
        return self

    def __exit__(self, *args):
        self.socket.close()
        os.killpg(self.process.pid, 9)
        self.process.wait()
        shutil.rmtree(self.profile, ignore_errors=True)
