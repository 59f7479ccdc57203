#!/usr/bin/python3
"""Headless Chromium through its DevTools protocol, and a static server on 127.0.0.1; for Debian's python3-websocket.
As `browser.py FOLDER NAME`, plays the video FOLDER/NAME to its end: "WIDTHxHEIGHT SECONDS with sound|silent"."""

import json
import os
import subprocess
import tempfile
import threading
import time
import sys
import urllib.request

import websocket

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "web"))
import serve  # noqa: E402

CHROMIUM = ["chromium", "about:blank", "--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
            "--autoplay-policy=no-user-gesture-required", "--remote-debugging-port=0", "--window-size=1280,960"]


def serve_folder(folder):
    server = serve.server(folder, 0)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return "http://127.0.0.1:%d/" % server.server_address[1]


class Browser:
    """One Chromium with a fresh profile and one page, `page` opened in it, `scripts` run first in each document."""

    def __init__(self, *scripts, page=None):
        self.profile = tempfile.TemporaryDirectory(prefix="bumpwave-chromium-", ignore_cleanup_errors=True)
        self.process = subprocess.Popen([*CHROMIUM, "--user-data-dir=" + self.profile.name], stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL, start_new_session=True)
        port_file, deadline = os.path.join(self.profile.name, "DevToolsActivePort"), time.monotonic() + 30
        while not (os.path.exists(port_file) and "\n" in open(port_file).read()):
            if self.process.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError("chromium did not start")
            time.sleep(0.1)
        tabs = "http://127.0.0.1:%s/json" % open(port_file).read().split()[0]
        tab = next(t for t in json.load(urllib.request.urlopen(tabs)) if t["type"] == "page")
        self.socket = websocket.create_connection(tab["webSocketDebuggerUrl"], timeout=60, suppress_origin=True)
        self.next_id = 0
        self.workers = []  # the sessions of the page's workers, once Target.setAutoAttach asks for them
        self.call("Page.enable")
        for script in scripts:
            self.call("Page.addScriptToEvaluateOnNewDocument", source=script)
        if page:
            self.open(page)

    def call(self, method, session=None, **params):
        """`method` of the page, or of the worker whose session is `session`."""
        self.next_id += 1
        self.socket.send(json.dumps({"id": self.next_id, "method": method, "params": params,
                                     **({"sessionId": session} if session else {})}))
        while True:
            message = json.loads(self.socket.recv())
            attached = message.get("method") == "Target.attachedToTarget" and message["params"]
            if attached and attached["targetInfo"]["type"] == "worker":
                self.workers.append(attached["sessionId"])
            if message.get("id") == self.next_id:
                if "error" in message:
                    raise RuntimeError("%s: %s" % (method, message["error"]))
                return message["result"]

    def evaluate(self, expression, session=None):
        result = self.call("Runtime.evaluate", session, expression=expression, returnByValue=True, awaitPromise=True)
        if "exceptionDetails" in result:
            raise RuntimeError("%s: %s" % (expression, result["exceptionDetails"]))
        return result["result"].get("value")

    def open(self, url):
        self.call("Page.navigate", url=url)
        self.expect("document.readyState === 'complete' && !!window.bumpwave && !startButton.disabled", 60)

    def expect(self, expression, seconds=0):
        """The value of `expression` once true, polled for `seconds` at most; else an AssertionError naming it."""
        end = time.monotonic() + seconds
        while not (value := self.evaluate(expression)):
            if time.monotonic() > end:
                raise AssertionError("not %s within %s s" % (expression, seconds))
            time.sleep(0.1)
        return value

    def key(self, key):
        for kind, text in (("keyDown", {"Enter": "\r", " ": " "}.get(key, "")), ("keyUp", "")):
            self.call("Input.dispatchKeyEvent", type=kind, key=key, text=text)

    def device(self, width, height, ratio, phone=False):
        self.call("Emulation.setDeviceMetricsOverride", width=width, height=height, deviceScaleFactor=ratio,
                  mobile=phone)
        self.call("Emulation.setTouchEmulationEnabled", enabled=phone)

    def __enter__(self):
        return self

    def __exit__(self, *args):
        self.socket.close()
        os.killpg(self.process.pid, 9)
        self.process.wait()
        self.profile.cleanup()


PLAY = """new Promise((resolve, reject) => {
    const video = document.body.appendChild(Object.assign(document.createElement('video'), {src: 'URL'}));
    video.onended = () => resolve(`${video.videoWidth}x${video.videoHeight} ${video.duration.toFixed(1)} ` +
        (video.webkitAudioDecodedByteCount > 0 ? 'with sound' : 'silent'));
    video.onerror = () => reject(new Error(video.error.message || 'cannot play'));
    video.play().catch(reject);
})"""


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(2)  # after the import: 2 also says that python3-websocket is there
    try:
        with Browser() as browser:
            print(browser.evaluate(PLAY.replace("URL", serve_folder(sys.argv[1]) + sys.argv[2])))
    except RuntimeError as error:
        sys.exit(str(error))
