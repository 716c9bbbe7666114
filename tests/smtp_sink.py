#!/usr/bin/python3
"""A real SMTP server for the tests (aiosmtpd on loopback).

  smtp_sink.py DIR [--auth USER:PASS] [--port N]

Listens on 127.0.0.1 at a free port (or N) and writes the port to DIR/port once it
accepts connections. Each accepted mail is parsed with Python's email module
and written to the folder DIR/N (N = 1, 2, ...) as the files mail_from,
rcpt_tos (one per line), from, subject, text (the text part, decoded),
attachment_name, attachment_type and attachment (the decoded bytes);
DIR/N/done is written last.

--auth: AUTH LOGIN and PLAIN offered (without TLS) and only USER:PASS
accepted.
"""
import asyncio
import email
import email.policy
import os
import sys
import warnings

from aiosmtpd.smtp import SMTP, AuthResult

# aiosmtpd 1.4 warns about its own use of Session.login_data.
warnings.filterwarnings("ignore", message=".*login_data")


class Sink:
    def __init__(self, folder):
        self.folder, self.count = folder, 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        out = os.path.join(self.folder, str(self.count))
        os.makedirs(out)
        msg = email.message_from_bytes(envelope.original_content,
                                       policy=email.policy.default)
        body = msg.get_body(preferencelist=("plain",))
        parts = {"mail_from": envelope.mail_from,
                 "rcpt_tos": "\n".join(envelope.rcpt_tos),
                 "from": str(msg["From"] or ""),
                 "subject": str(msg["Subject"] or ""),
                 "text": body.get_content() if body is not None else ""}
        for part in list(msg.iter_attachments())[:1]:
            parts["attachment_name"] = part.get_filename() or ""
            parts["attachment_type"] = part.get_content_type()
            parts["attachment"] = part.get_payload(decode=True) or b""
        parts["done"] = ""
        for name, data in parts.items():
            with open(os.path.join(out, name), "wb") as f:
                f.write(data if isinstance(data, bytes) else data.encode())
        return "250 Message accepted"


def main():
    folder = sys.argv[1]
    auth = None
    if "--auth" in sys.argv:
        user, _, password = sys.argv[sys.argv.index("--auth") + 1].partition(":")
        auth = (user.encode(), password.encode())

    def authenticator(server, session, envelope, mechanism, data):
        ok = auth is not None and (data.login, data.password) == auth
        return AuthResult(success=ok, handled=False)

    port = 0
    if "--port" in sys.argv:
        port = int(sys.argv[sys.argv.index("--port") + 1])
    handler = Sink(folder)

    def factory():
        if auth is None:
            return SMTP(handler, hostname="sink")
        return SMTP(handler, hostname="sink", authenticator=authenticator,
                    auth_require_tls=False)

    loop = asyncio.new_event_loop()
    server = loop.run_until_complete(
        loop.create_server(factory, "127.0.0.1", port))
    with open(os.path.join(folder, "port.tmp"), "w") as f:
        f.write(str(server.sockets[0].getsockname()[1]))
    os.rename(os.path.join(folder, "port.tmp"), os.path.join(folder, "port"))
    loop.run_forever()


if __name__ == "__main__":
    main()
