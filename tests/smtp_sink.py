#!/usr/bin/python3
"""A real SMTP server for the tests (aiosmtpd on loopback).

  smtp_sink.py DIR [--auth USER:PASS] [--drop-at-rcpt]

Listens on 127.0.0.1 at a free port and writes the port to DIR/port once it
accepts connections. Each accepted mail is parsed with Python's email module
and written to the folder DIR/N (N = 1, 2, ...) as the files mail_from,
rcpt_tos (one per line), from, to, subject, text (the text part, decoded),
attachment_name, attachment_type and attachment (the decoded bytes), and the
raw message as raw.eml. DIR/N/done is written last.

--auth: AUTH LOGIN and PLAIN offered (without TLS) and only USER:PASS
accepted. --drop-at-rcpt: the connection is dropped at RCPT TO.
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
    def __init__(self, folder, drop):
        self.folder = folder
        self.drop = drop
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, options):
        if self.drop:
            server.transport.close()
            return "421 closing"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        out = os.path.join(self.folder, str(self.count))
        os.makedirs(out)
        msg = email.message_from_bytes(envelope.original_content,
                                       policy=email.policy.default)

        def put(name, data):
            with open(os.path.join(out, name), "wb") as f:
                f.write(data if isinstance(data, bytes) else data.encode())

        put("raw.eml", envelope.original_content)
        put("mail_from", envelope.mail_from)
        put("rcpt_tos", "\n".join(envelope.rcpt_tos))
        put("from", str(msg["From"] or ""))
        put("to", str(msg["To"] or ""))
        put("subject", str(msg["Subject"] or ""))
        body = msg.get_body(preferencelist=("plain",))
        put("text", body.get_content() if body is not None else "")
        for part in msg.iter_attachments():
            put("attachment_name", part.get_filename() or "")
            put("attachment_type", part.get_content_type())
            put("attachment", part.get_payload(decode=True) or b"")
            break
        put("done", "")
        return "250 Message accepted"


def main():
    folder = sys.argv[1]
    auth = None
    drop = "--drop-at-rcpt" in sys.argv
    if "--auth" in sys.argv:
        user, _, password = sys.argv[sys.argv.index("--auth") + 1].partition(":")
        auth = (user.encode(), password.encode())

    def authenticator(server, session, envelope, mechanism, data):
        ok = auth is not None and (data.login, data.password) == auth
        return AuthResult(success=ok, handled=False)

    handler = Sink(folder, drop)

    def factory():
        if auth is None:
            return SMTP(handler, hostname="sink")
        return SMTP(handler, hostname="sink", authenticator=authenticator,
                    auth_require_tls=False)

    loop = asyncio.new_event_loop()
    server = loop.run_until_complete(
        loop.create_server(factory, "127.0.0.1", 0))
    port = server.sockets[0].getsockname()[1]
    tmp = os.path.join(folder, "port.tmp")
    with open(tmp, "w") as f:
        f.write(str(port))
    os.rename(tmp, os.path.join(folder, "port"))
    loop.run_forever()


if __name__ == "__main__":
    main()
