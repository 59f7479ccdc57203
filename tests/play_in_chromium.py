#!/usr/bin/python3
# play_in_chromium.py FOLDER NAME: plays the video FOLDER/NAME, served on 127.0.0.1, to its end
# in headless Chromium and prints "WIDTHxHEIGHT SECONDS with sound|silent"; exits 1 with the
# reason when it does not play.
import sys

from browser import Browser, Server

PLAY = """new Promise((resolve, reject) => {
    const video = document.createElement('video');
    video.onended = () => resolve(`${video.videoWidth}x${video.videoHeight} ` +
        `${video.duration.toFixed(1)} ` +
        (video.webkitAudioDecodedByteCount > 0 ? 'with sound' : 'silent'));
    video.onerror = () => reject(new Error(video.error.message || 'cannot play'));
    setTimeout(() => reject(new Error('not ended after 50 s')), 50000);
    video.src = 'URL';
    document.body.appendChild(video);
    video.play().catch(reject);
})"""


def play(folder, name):
    server = Server(folder)
    try:
        with Browser() as browser:
            print(browser.evaluate(PLAY.replace("URL", server.url + name)))
    except RuntimeError as error:
        sys.exit(str(error))
    finally:
        server.close()


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(2)  # after the import: 2 also says that python3-websocket is there
    play(sys.argv[1], sys.argv[2])
