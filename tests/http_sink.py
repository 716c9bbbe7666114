#!/usr/bin/python3
"""A real HTTP server for the tests (python's http.server on loopback).

  http_sink.py DIR [--status CODE] [--port N] [--tls CERT KEY]

Listens on 127.0.0.1 at a free port (or N) and writes the port to DIR/port once it
accepts connections. Each request is answered with CODE (200 by default)
and written to the folder DIR/N (N = 1, 2, ...) as the files request (the
request line), headers (as received), body; DIR/N/done is written last.

--tls: HTTPS with the certificate and key in the PEM files CERT and KEY.
"""
import http.server
import os
import ssl
import sys


def main():
    folder = sys.argv[1]
    args = sys.argv[2:]
    status = int(args[args.index("--status") + 1]) if "--status" in args else 200
    count = [0]

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
            count[0] += 1
            out = os.path.join(folder, str(count[0]))
            os.makedirs(out)
            parts = {"request": self.requestline.encode(),
                     "headers": str(self.headers).encode(), "body": body,
                     "done": b""}
            for name, data in parts.items():
                with open(os.path.join(out, name), "wb") as f:
                    f.write(data)
            self.send_response(status)
            self.send_header("Content-Length", "0")
            self.end_headers()

        def log_message(self, *args):
            pass

    port = int(args[args.index("--port") + 1]) if "--port" in args else 0
    http.server.HTTPServer.allow_reuse_address = True
    server = http.server.HTTPServer(("127.0.0.1", port), Handler)
    if "--tls" in args:
        at = args.index("--tls")
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args[at + 1], args[at + 2])
        server.socket = context.wrap_socket(server.socket, server_side=True)
    with open(os.path.join(folder, "port.tmp"), "w") as f:
        f.write(str(server.server_address[1]))
    os.rename(os.path.join(folder, "port.tmp"), os.path.join(folder, "port"))
    server.serve_forever()


if __name__ == "__main__":
    main()
