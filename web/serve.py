"""Serves a built page: python3 web/serve.py FOLDER PORT [ADDRESS], each file as
its precompressed FILE.gz where there is one and the browser takes gzip."""

import functools
import http.server
import os
import sys


class Handler(http.server.SimpleHTTPRequestHandler):
    log_message = lambda *args: None

    def send_head(self):
        path = self.translate_path(self.path)
        if os.path.isdir(path):
            path = os.path.join(path, "index.html")
        if "gzip" not in self.headers.get("Accept-Encoding", "") or not os.path.isfile(path + ".gz"):
            return super().send_head()
        self.send_response(200)
        self.send_header("Content-Type", self.guess_type(path))
        self.send_header("Content-Encoding", "gzip")
        self.send_header("Content-Length", str(os.path.getsize(path + ".gz")))
        self.send_header("Vary", "Accept-Encoding")
        self.end_headers()
        return open(path + ".gz", "rb")


class Server(http.server.ThreadingHTTPServer):
    def handle_error(self, request, address):
        if not isinstance(sys.exc_info()[1], ConnectionError):  # not a browser gone mid-file
            super().handle_error(request, address)


def server(folder, port, address="127.0.0.1"):
    return Server((address, port), functools.partial(Handler, directory=folder))


if __name__ == "__main__":
    server(sys.argv[1], int(sys.argv[2]), *sys.argv[3:]).serve_forever()
