"""A real SMTP server for the mail tests: Debian's aiosmtpd on the sandbox's loopback.

smtp_server.py DIR PORT [refuse] writes DIR/ready once it listens, then each message it accepts
as DIR/msg.N (the envelope sender, TAB-separated recipients and the raw message, one per line
for the first two), until SIGTERM. With "refuse" every recipient is refused with 550.
"""
import os
import signal
import sys

from aiosmtpd.controller import Controller


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
            f.write(envelope.original_content)
        os.rename(name + ".part", name)
        return "250 Message accepted"


def main():
    folder, port = sys.argv[1], int(sys.argv[2])
    refuse = len(sys.argv) > 3 and sys.argv[3] == "refuse"
    signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGTERM})
    controller = Controller(Handler(folder, refuse), hostname="127.0.0.1", port=port)
    controller.start()
    with open(os.path.join(folder, "ready"), "w") as f:
        f.write("ready\n")
    signal.sigwait({signal.SIGTERM})
    controller.stop()


if __name__ == "__main__":
    main()
