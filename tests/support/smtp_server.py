"""A real SMTP server for the mail tests: Debian's aiosmtpd on the sandbox's loopback.

smtp_server.py DIR PORT [refuse | auth USER PASS] writes DIR/ready once it listens, then each
message it accepts as DIR/msg.N (the envelope sender, the TAB-separated recipients and the user
that logged in, one line each, then the raw message), until SIGTERM. With "refuse" every
recipient is refused with 550; with "auth" a login (AUTH PLAIN or LOGIN, without TLS) as USER
with PASS is required.
"""
import os
import signal
import sys
import warnings

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult


class Handler:
    def __init__(self, folder, refuse):
        self.folder = folder
        self.refuse = refuse
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.refuse:
            return "550 5.7.1 recipient refused by the test server"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        name = os.path.join(self.folder, "msg.%d" % self.count)
        with open(name + ".part", "wb") as f:
            f.write(envelope.mail_from.encode() + b"\n")
            f.write("\t".join(envelope.rcpt_tos).encode() + b"\n")
            login = session.auth_data if isinstance(session.auth_data, bytes) else b""
            f.write(login + b"\n")
            f.write(envelope.original_content)
        os.rename(name + ".part", name)
        return "250 Message accepted"


def main():
    warnings.simplefilter("ignore")
    folder, port = sys.argv[1], int(sys.argv[2])
    mode = sys.argv[3] if len(sys.argv) > 3 else ""
    options = {}
    if mode == "auth":
        user, password = sys.argv[4].encode(), sys.argv[5].encode()

        def authenticator(server, session, envelope, mechanism, auth_data):
            ok = auth_data.login == user and auth_data.password == password
            return AuthResult(success=ok, auth_data=auth_data.login if ok else None)

        options = dict(authenticator=authenticator, auth_require_tls=False, auth_required=True)
    signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGTERM})
    controller = Controller(Handler(folder, mode == "refuse"), hostname="127.0.0.1", port=port, **options)
    controller.start()
    with open(os.path.join(folder, "ready"), "w") as f:
        f.write("ready\n")
    signal.sigwait({signal.SIGTERM})
    controller.stop()


if __name__ == "__main__":
    main()
