"""An SMTP server for the alert tests, on 127.0.0.1 (aiosmtpd).

Every message it takes is written whole to FOLDER as one .eml file. Prints
"PORT n" once it listens, then serves until it is ended.

  smtp_peer.py FOLDER [--port N] [--tls CERT KEY] [--auth USER:PASSWORD]
               [--refuse] [--no-starttls]
"""
import argparse
import os
import socket
import ssl
import sys
import threading
import time
import uuid

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword


class Saver:
    def __init__(self, folder, refuse):
        self.folder = folder
        self.refuse = refuse

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.refuse:
            return "550 5.7.1 Relaying denied for <%s>" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        name = os.path.join(self.folder, uuid.uuid4().hex)
        with open(name + ".tmp", "wb") as f:
            f.write(("X-Envelope-To: %s\r\n" % ",".join(envelope.rcpt_tos)).encode())
            f.write(envelope.original_content or envelope.content)
        os.rename(name + ".tmp", name + ".eml")
        return "250 Message accepted"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    p = argparse.ArgumentParser()
    p.add_argument("folder")
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--tls", nargs=2)
    p.add_argument("--auth")
    p.add_argument("--refuse", action="store_true")
    a = p.parse_args()

    kwargs = {}
    if a.tls:
        ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        ctx.load_cert_chain(a.tls[0], a.tls[1])
        kwargs.update(tls_context=ctx, require_starttls=True)
    if a.auth:
        user, password = a.auth.split(":", 1)

        def authenticator(server, session, envelope, mechanism, auth_data):
            ok = (isinstance(auth_data, LoginPassword)
                  and auth_data.login.decode() == user and auth_data.password.decode() == password)
            return AuthResult(success=ok, handled=False)

        kwargs.update(authenticator=authenticator, auth_required=True, auth_require_tls=bool(a.tls))
    port = a.port or free_port()
    controller = Controller(Saver(a.folder, a.refuse), hostname="127.0.0.1", port=port, **kwargs)
    controller.start()
    print("PORT %d" % port, flush=True)
    # The test holds the other end of standard input: when it ends, however
    # it ends, so does the server.
    threading.Thread(target=lambda: (sys.stdin.read(), os._exit(0)), daemon=True).start()
    try:
        while True:
            time.sleep(3600)
    finally:
        controller.stop()


if __name__ == "__main__":
    sys.exit(main())
