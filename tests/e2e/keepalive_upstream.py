#!/usr/bin/python3
"""The flight-operations upstream of relay_upstream.py (the same service, the
same canned failures) over HTTP/1.1 with kept connections, for the tests of
connection reuse. Every request is logged as one JSON line with the
connection it came on ("conn", numbered from 1 in arrival order) and, over
TLS, whether that connection resumed an earlier TLS session ("resumed").

The query of a request steers its connection:
  conn=close       the connection is closed right after the answer, without
                   a word to the client (as an upstream whose keep-alive time
                   ran out)
  conn=drop-next   the next request on this connection is read and dropped:
                   the connection closes with no answer (as an upstream that
                   closed it just as the request went out)
  conn=drop        this request is read and dropped the same way
  conn=extra       0.2 s after the answer, a second whole answer (for the
                   airport INTRUDER) is sent on the connection unasked
  conn=extra-now   the same second answer, in the same write as the answer
  conn=short       the answer's body has 11 blanks more than its
                   Content-Length says; they follow 50 ms later
  conn=late-extra  the answer comes after 0.1 s, and 0.15 s after it the
                   second whole answer (for INTRUDER), unasked

With --proxy-credentials USER:PASSWORD[,USER:PASSWORD...] it plays a proxy
that answers by itself: it takes only requests in absolute form ("POST
http://host:port/path") with one of those Basic credentials in
Proxy-Authorization (407 otherwise) and serves them as the upstream would;
the log then also names the proxy user.

  keepalive_upstream.py --port-file F [--log L] [--cert C --key K]
                        [--proxy-credentials LIST]
"""
import argparse
import base64
import io
import itertools
import json
import re
import socket
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, HTTPServer
from socketserver import ThreadingMixIn

import relay_upstream

MAX_BODY = 16 << 20  # bytes of one request body
IDLE_TIMEOUT = 30  # seconds a kept connection may stay silent


class Server(ThreadingMixIn, HTTPServer):
    address_family = socket.AF_INET
    daemon_threads = True
    allow_reuse_address = True

    def setup(self, log, tls, proxy_users):
        self.log_path, self.tls, self.proxy_users = log, tls, proxy_users
        self.app = relay_upstream.Recorder(relay_upstream.APP, None)
        self.numbers = itertools.count(1)
        self.log_lock = threading.Lock()

    def write_log(self, entry):
        if not self.log_path:
            return
        with self.log_lock, open(self.log_path, "a") as f:
            f.write(json.dumps(entry) + "\n")


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    timeout = IDLE_TIMEOUT
    # An answer's head and body go out in two writes: without this the
    # second waits for the client's delayed acknowledgement (40 ms), which
    # is not what an upstream takes to answer.
    disable_nagle_algorithm = True

    def log_message(self, *args):
        pass

    def setup(self):
        super().setup()
        self.conn = next(self.server.numbers)
        self.drop_next = False
        self.resumed = getattr(self.connection, "session_reused", None)

    def do_GET(self):
        self.serve()

    def do_POST(self):
        self.serve()

    def serve(self):
        length = int(self.headers.get("Content-Length") or 0)
        if length > MAX_BODY:
            self.close_connection = True
            return
        body = self.rfile.read(length) if length else b""
        target = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(target.query)
        entry = {"conn": self.conn, "resumed": self.resumed, "line": self.requestline,
                 "headers": list(self.headers.items()),
                 "body": base64.b64encode(body).decode(), "dropped": False}
        proxy_user = self.proxy_user(target)
        if proxy_user is not None:
            entry["proxy_user"] = proxy_user
        if self.drop_next or query.get("conn") == ["drop"]:
            entry["dropped"] = True
            self.server.write_log(entry)
            self.close_connection = True
            return
        self.server.write_log(entry)
        if self.server.proxy_users is not None and proxy_user is None:
            self.answer("407 Proxy Authentication Required",
                        [("Proxy-Authenticate", 'Basic realm="proxy"'),
                         ("Content-Type", "text/plain")], b"who?")
            return
        status, headers, data = self.run_app(target, body)
        how = (query.get("conn") or [""])[0]
        if how == "late-extra":
            time.sleep(0.1)
            threading.Timer(0.15, self.send_late, (self.intruder(target, body),)).start()
            self.answer(status, headers, data)
        elif how in ("extra", "extra-now"):
            extra = self.intruder(target, body)
            if how == "extra":
                threading.Timer(0.2, self.send_late, (extra,)).start()
                extra = b""
            self.answer(status, headers, data, extra)
        elif how == "short":
            self.answer(status, headers, data)
            threading.Timer(0.05, self.send_late, (b" " * 11,)).start()
        else:
            self.answer(status, headers, data)
        if query.get("conn") == ["close"]:
            self.close_connection = True
        self.drop_next = query.get("conn") == ["drop-next"]

    def proxy_user(self, target):
        """The proxy user of a request this proxy takes; None otherwise."""
        users = self.server.proxy_users
        if users is None or not target.scheme:
            return None
        auth = self.headers.get("Proxy-Authorization", "")
        if not auth.startswith("Basic "):
            return None
        try:
            user, _, password = base64.b64decode(auth[6:]).decode().partition(":")
        except ValueError:
            return None
        return user if users.get(user) == password else None

    def run_app(self, target, body):
        environ = {
            "REQUEST_METHOD": self.command, "SCRIPT_NAME": "",
            "PATH_INFO": urllib.parse.unquote(target.path), "QUERY_STRING": target.query,
            "SERVER_NAME": "127.0.0.1", "SERVER_PORT": str(self.server.server_address[1]),
            "SERVER_PROTOCOL": self.request_version, "REMOTE_ADDR": self.client_address[0],
            "CONTENT_TYPE": self.headers.get("Content-Type", ""),
            "CONTENT_LENGTH": str(len(body)), "wsgi.input": io.BytesIO(body),
            "wsgi.errors": sys.stderr, "wsgi.version": (1, 0),
            "wsgi.url_scheme": "https" if self.server.tls else "http",
            "wsgi.multithread": True, "wsgi.multiprocess": False, "wsgi.run_once": False,
        }
        for name, value in self.headers.items():
            key = "HTTP_" + name.upper().replace("-", "_")
            if key not in ("HTTP_CONTENT_TYPE", "HTTP_CONTENT_LENGTH"):
                environ[key] = value
        answer = {}

        def start_response(status, headers, exc_info=None):
            answer["status"], answer["headers"] = status, headers

        chunks = self.server.app(environ, start_response)
        data = b"".join(chunks)
        if hasattr(chunks, "close"):
            chunks.close()
        headers = [(k, v) for k, v in answer["headers"] if k.lower() != "content-length"]
        return answer["status"], headers, data

    def answer(self, status, headers, data, after=b""):
        code, _, reason = status.partition(" ")
        self.send_response(int(code), reason)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data + after)
        self.wfile.flush()

    def intruder(self, target, body):
        """A whole second answer: the one the airport INTRUDER would get."""
        other = re.sub(rb"(<(?:\w+:)?idarpt[^>]*>)[^<]*", rb"\1INTRUDER", body, count=1)
        status, headers, data = self.run_app(target, other)
        head = "HTTP/1.1 %s\r\n" % status + "".join("%s: %s\r\n" % h for h in headers)
        return (head + "Content-Length: %d\r\n\r\n" % len(data)).encode() + data

    def send_late(self, data):
        try:
            self.wfile.write(data)
            self.wfile.flush()
        except (OSError, ValueError):
            pass


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port-file", required=True)
    ap.add_argument("--log")
    ap.add_argument("--cert")
    ap.add_argument("--key")
    ap.add_argument("--proxy-credentials")
    a = ap.parse_args()
    users = None
    if a.proxy_credentials is not None:
        users = dict(pair.split(":", 1) for pair in a.proxy_credentials.split(","))
    httpd = Server(("127.0.0.1", 0), Handler)
    httpd.setup(a.log, bool(a.cert), users)
    relay_upstream.serve(httpd, a.cert, a.key, a.port_file)


if __name__ == "__main__":
    sys.exit(main())
