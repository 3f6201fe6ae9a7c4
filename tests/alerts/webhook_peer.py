"""An HTTP server for the alert tests, on 127.0.0.1: every POST body is
written whole to FOLDER as one .json file and answered with STATUS.
Prints "PORT n" once it listens.

  webhook_peer.py FOLDER [--status 200]
"""
import argparse
import http.server
import os
import sys
import threading
import uuid


def main():
    p = argparse.ArgumentParser()
    p.add_argument("folder")
    p.add_argument("--status", type=int, default=200)
    a = p.parse_args()

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            length = int(self.headers.get("Content-Length", "0"))
            body = self.rfile.read(length)
            name = os.path.join(a.folder, uuid.uuid4().hex)
            with open(name + ".tmp", "wb") as f:
                f.write(body)
            os.rename(name + ".tmp", name + ".json")
            with open(name + ".type", "w") as f:
                f.write(self.headers.get("Content-Type", ""))
            answer = b"ok" if a.status < 300 else b"the hook is switched off"
            self.send_response(a.status)
            self.send_header("Content-Length", str(len(answer)))
            self.end_headers()
            self.wfile.write(answer)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    print("PORT %d" % server.server_port, flush=True)
    # The test holds the other end of standard input: when it ends, however
    # it ends, so does the server.
    threading.Thread(target=lambda: (sys.stdin.read(), os._exit(0)), daemon=True).start()
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
