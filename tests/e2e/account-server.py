#!/usr/bin/env python3
"""A station network's account page, for end-to-end tests, benchmarks and the demo station.

It answers the program's POST of the account: the header must be exactly
"Content-type: application/x-www-form-urlencoded" and the body exactly the form-encoded Windows-1252
bytes "Usuario=<user>&Senha=<password>" of one of the accounts it knows (any account when it is given
none). An accepted account gets the account page, whose element "limitekbps" holds the bitrate limit
in kbit/s; a wrong password a page without it (403); a request that is not the program's, 400. A GET
shows the page of the last accepted account (the page reloads itself with --refresh).

    account-server.py --bind 127.0.0.1 --port 0 --ready FILE [--accounts FILE] [--limit-file FILE]
                      [--limit N] [--log FILE] [--refresh SECONDS] [--station NAME]

--port 0 takes a free port; the port is written to --ready once it listens. --accounts holds one
"user<TAB>password" per line (UTF-8). The limit is read from --limit-file at every request (so a
test can change it), else --limit. --log gets one JSON line per request: method, path, headers (in
order, names as sent), body (Latin-1, i.e. byte for byte), and what was answered.

The server also serves requests sent to it as a web proxy (absolute addresses), so a browser told to
use it as its proxy reaches it under any name.
"""

import argparse
import html
import json
import os
import sys
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import urlsplit

CONTENT_TYPE = "application/x-www-form-urlencoded"
KEPT = set(b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789!$'()*-.@_")


def form_encode(data: bytes) -> bytes:
    """The network's form encoding: letters, digits and !$'()*-.@_ kept, space '+', else %xx lowercase."""
    out = bytearray()
    for byte in data:
        if byte in KEPT:
            out.append(byte)
        elif byte == 0x20:
            out += b"+"
        else:
            out += b"%%%02x" % byte
    return bytes(out)


def expected_body(user: str, password: str) -> bytes:
    return b"Usuario=" + form_encode(user.encode("cp1252")) + b"&Senha=" + form_encode(password.encode("cp1252"))


class State:
    def __init__(self, options):
        self.options = options
        self.lock = threading.Lock()
        self.last_user = None

    def accounts(self):
        if not self.options.accounts:
            return None
        accounts = {}
        with open(self.options.accounts, encoding="utf-8") as f:
            for line in f:
                line = line.rstrip("\r\n")
                if "\t" in line:
                    user, password = line.split("\t", 1)
                    accounts[user] = password
        return accounts

    def limit(self):
        if self.options.limit_file:
            try:
                with open(self.options.limit_file, encoding="utf-8") as f:
                    return f.read().strip()
            except OSError:
                pass
        return self.options.limit


def page(title: str, body: str, refresh: int) -> bytes:
    meta = '<meta http-equiv="refresh" content="%d">' % refresh if refresh > 0 else ""
    text = (
        "<!DOCTYPE html><html><head><meta charset=\"windows-1252\">%s<title>%s</title>"
        "<style>body{margin:0;padding:10px;background:#000;color:#fff;font:13px sans-serif}"
        "h1{font-size:16px;color:#0f0;margin:0 0 10px}p{margin:6px 0}b{color:#ff0}"
        ".box{border:1px solid #5a606c;padding:8px}</style></head><body>%s</body></html>"
    ) % (meta, html.escape(title), body)
    return text.encode("cp1252", "replace")


class Handler(BaseHTTPRequestHandler):
    server_version = "ZoVevaAccountPage/1"

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        pass

    def record(self, body: bytes, answer: str):
        log = self.server.state.options.log
        if not log:
            return
        entry = {
            "method": self.command,
            "path": self.path,
            "headers": [[name, value] for name, value in self.headers.items()],
            "body": body.decode("latin-1"),
            "answer": answer,
        }
        with self.server.state.lock, open(log, "a", encoding="utf-8") as f:
            f.write(json.dumps(entry) + "\n")

    def answer(self, status: int, content: bytes, kind: str = "text/html; charset=windows-1252"):
        self.send_response(status)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(content)))
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        self.wfile.write(content)

    def account_page(self, user: str) -> bytes:
        state = self.server.state
        options = state.options
        limit = state.limit()
        body = (
            "<h1>%s</h1><div class=\"box\"><p>Conta: <b>%s</b></p><p>Limite de transmiss\u00e3o: "
            "<b>%s kbit/s</b></p></div><input type=\"hidden\" id=\"limitekbps\" value=\"%s\">"
        ) % (html.escape(options.station), html.escape(user), html.escape(limit), html.escape(limit, quote=True))
        return page(options.station, body, options.refresh)

    def do_GET(self):  # noqa: N802 - the base class's name
        path = urlsplit(self.path).path
        if path != "/":
            self.record(b"", "404")
            self.answer(404, b"", "text/plain")
            return
        state = self.server.state
        with state.lock:
            user = state.last_user
        if user is None:
            self.record(b"", "200 no account")
            body = "<h1>%s</h1><p>Entre pelo programa.</p>" % html.escape(state.options.station)
            self.answer(200, page(state.options.station, body, 0))
            return
        self.record(b"", "200 " + user)
        self.answer(200, self.account_page(user))

    def do_POST(self):  # noqa: N802 - the base class's name
        length = int(self.headers.get("Content-Length", "0") or 0)
        body = self.rfile.read(length) if length > 0 else b""
        state = self.server.state
        kinds = self.headers.get_all("Content-type") or []
        if kinds != [CONTENT_TYPE]:
            self.record(body, "400 header")
            self.answer(400, page("400", "<p>Content-type: %s</p>" % html.escape(repr(kinds)), 0))
            return
        accounts = state.accounts()
        user = None
        if accounts is None:
            if body.startswith(b"Usuario=") and b"&Senha=" in body:
                user = body[len(b"Usuario="):body.index(b"&Senha=")].decode("latin-1")
        else:
            for name, password in accounts.items():
                if body == expected_body(name, password):
                    user = name
                    break
        if user is None:
            self.record(body, "403")
            refused = "<h1>%s</h1><p>Usu\u00e1rio ou senha inv\u00e1lidos.</p>" % html.escape(state.options.station)
            self.answer(403, page(state.options.station, refused, 0))
            return
        with state.lock:
            state.last_user = user
        self.record(body, "200 " + user)
        self.answer(200, self.account_page(user))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bind", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=80)
    parser.add_argument("--ready")
    parser.add_argument("--accounts")
    parser.add_argument("--limit-file")
    parser.add_argument("--limit", default="64")
    parser.add_argument("--log")
    parser.add_argument("--refresh", type=int, default=0)
    parser.add_argument("--station", default="Varek R\u00e1dio")
    options = parser.parse_args()

    server = ThreadingHTTPServer((options.bind, options.port), Handler)
    server.daemon_threads = True
    server.state = State(options)
    port = server.server_address[1]
    if options.ready:
        with open(options.ready + ".tmp", "w") as f:
            f.write("%d\n" % port)
        os.replace(options.ready + ".tmp", options.ready)
    print("account page on http://%s:%d/" % (options.bind, port), flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
