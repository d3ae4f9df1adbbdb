#!/usr/bin/python3
"""Loopback peers for the HTTP client tests, then the tests themselves.

Usage: http_peer.py TEST_BINARY [gtest args...]

Makes certificates with openssl in a temporary directory, starts a plain
HTTP server, an HTTPS server with a self-signed certificate, an HTTPS
server that demands a client certificate, an HTTPS server that offers
HTTP/2 and notes what each connection negotiated, a proxy that demands
Digest credentials and answers itself, and two tinyproxy instances (one
with proxy credentials), all on free loopback ports. Every request the
Python peers take is recorded per path ("/log?p=PATH" lists them), so
tests can check exact request sequences. Runs the test binary with their
addresses in the environment, then stops everything.
"""
import base64
import gzip
import hashlib
import http.server
import json
import os
import shutil
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import peers  # noqa: E402  (free ports, waiting)

MAX_BODY = 16 << 20  # bytes accepted from the client under test
TEST_TIMEOUT = 600   # seconds for the whole test binary
USER, PASSWORD = "alice", "s3cret"
PROXY_USER, PROXY_PASSWORD = "puser", "p4ss"
REALM = "vv"
NONCE = "0f1e2d3c4b5a"

HITS = {}
HITS_LOCK = threading.Lock()
LOG = {}          # path -> requests as [method, body length, auth scheme]
CONNECTIONS = []  # ALPN protocol negotiated by each TLS connection of the ALPN peer


def md5(text):
    return hashlib.md5(text.encode()).hexdigest()


def digest_challenge():
    return f'Digest realm="{REALM}", qop="auth", nonce="{NONCE}", algorithm=MD5'


def scheme_of(header):
    return header.split(" ", 1)[0] if header else ""


def digest_ok(header, method):
    if not header.startswith("Digest "):
        return False
    params = {}
    for part in urllib.parse.unquote(header[7:]).split(","):
        if "=" in part:
            k, v = part.split("=", 1)
            params[k.strip()] = v.strip().strip('"')
    ha1 = md5(f"{USER}:{REALM}:{PASSWORD}")
    ha2 = md5(f"{method}:{params.get('uri', '')}")
    expected = md5(f"{ha1}:{params.get('nonce')}:{params.get('nc')}:{params.get('cnonce')}:"
                   f"{params.get('qop')}:{ha2}")
    return params.get("username") == USER and params.get("response") == expected


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send(self, code, body=b"", headers=(), ctype="text/plain"):
        if isinstance(body, str):
            body = body.encode()
        self.send_response(code)
        self.send_header("Content-Type", ctype)
        for k, v in headers:
            self.send_header(k, v)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def echo(self, body):
        data = {"method": self.command, "path": self.path,
                "headers": [[k, v] for k, v in self.headers.items()],
                "length": len(body), "md5": hashlib.md5(body).hexdigest(),
                "body": body.decode("latin-1")[:2000]}
        self.send(200, json.dumps(data), ctype="application/json")

    def handle_any(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(min(length, MAX_BODY)) if length else b""
        url = urllib.parse.urlsplit(self.path)
        q = dict(urllib.parse.parse_qsl(url.query))
        path = url.path
        proxied = getattr(self.server, "digest_proxy", False)
        auth = self.headers.get("Proxy-Authorization" if proxied else "Authorization", "")
        with HITS_LOCK:
            HITS[path] = HITS.get(path, 0) + 1
            LOG.setdefault(path, []).append([self.command, len(body), scheme_of(auth)])
        if proxied:  # a proxy that wants Digest, then answers in the server's place
            if digest_ok(auth, self.command):
                return self.echo(body)
            return self.send(407, "proxy denied", [("Proxy-Authenticate", digest_challenge())])
        basic = "Basic " + base64.b64encode(f"{USER}:{PASSWORD}".encode()).decode()
        challenge = ("WWW-Authenticate", f'Basic realm="{REALM}"')
        if path == "/echo" or path.startswith("/echo/"):
            return self.echo(body)
        if path == "/hits":
            return self.send(200, str(HITS.get(q.get("p", ""), 0)))
        if path == "/log":
            with HITS_LOCK:
                return self.send(200, json.dumps(LOG.get(q.get("p", ""), [])))
        if path == "/connections":
            with HITS_LOCK:
                return self.send(200, json.dumps(CONNECTIONS))
        if path.startswith("/status/"):
            code = int(path[8:])
            if code == 500:
                fault = "<fault>" + "x" * 3000 + "</fault>"
                return self.send(500, fault, ctype="text/xml")
            return self.send(code, f"status {code}")
        if path == "/basic":
            return self.echo(body) if auth == basic else self.send(401, "denied", [challenge])
        if path == "/drop-reused":  # the second request on a connection gets no answer
            self.on_connection = getattr(self, "on_connection", 0) + 1
            if self.on_connection > 1:
                self.close_connection = True
                return
            return self.echo(body) if auth == basic else self.send(401, "denied", [challenge])
        if path == "/basic-never":
            return self.send(401, "denied", [challenge])
        if path == "/negbasic":
            if auth == basic:
                return self.echo(body)
            return self.send(401, "denied", [("WWW-Authenticate", "Negotiate"), challenge])
        if path.startswith("/digest"):
            if digest_ok(auth, self.command):
                return self.echo(body)
            # A lenient server: an empty POST without credentials passes.
            if path.startswith("/digest-lenient") and length == 0 and not auth:
                return self.send(200, "lenient")
            return self.send(401, "denied", [("WWW-Authenticate", digest_challenge())])
        if path == "/redirect":
            n = int(q.get("n", "0"))
            code = int(q.get("code", "302"))
            if n <= 0:
                return self.echo(body)
            return self.send(code, "moved", [("Location", f"redirect?n={n - 1}&code={code}")])
        if path == "/redirect-to":
            return self.send(int(q.get("code", "302")), "moved", [("Location", q["loc"])])
        if path == "/cookies":
            return self.send(302, "moved", [("Set-Cookie", "a=1; Path=/"),
                                            ("Set-Cookie", "b=2; Path=/"), ("Location", "/echo")])
        if path == "/warning":
            return self.send(200, "ok", [("Warning", '199 - "one"'), ("Warning", '199 - "two"'),
                                         ("Set-Cookie", "x=1"), ("Set-Cookie", "y=2")])
        if path == "/gzip":
            data = gzip.compress(b"hello gzip world " * 100)
            return self.send(200, data, [("Content-Encoding", "gzip")])
        if path == "/chunked":
            self.send_response(200)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            for _ in range(5):
                chunk = b"c" * 10000
                self.wfile.write(b"%x\r\n%s\r\n" % (len(chunk), chunk))
            self.wfile.write(b"0\r\n\r\n")
            return
        if path == "/endless":  # a chunked body that never ends
            self.send_response(200)
            self.send_header("Content-Type", "text/xml")
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            chunk = b"%x\r\n%s\r\n" % (1 << 16, b"<Parcel/>".ljust(1 << 16, b" "))
            try:
                while True:
                    self.wfile.write(chunk)
            except OSError:
                self.close_connection = True
            return
        if path == "/bare-lf":  # header lines ended by LF alone, which clients accept
            self.wfile.write(b"HTTP/1.1 302 Found\nContent-Type: text/xml\nX-Two: 2\n"
                             b"Set-Cookie: c=1\nLocation: /echo\nContent-Length: 2\n\nok")
            self.close_connection = True
            return
        if path == "/huge":
            self.send_response(200)
            self.send_header("Content-Length", str(300 << 20))
            self.end_headers()
            self.wfile.write(b"z" * 1000)
            self.close_connection = True
            return
        if path == "/big-headers":
            lines = int(q.get("n", "600"))
            return self.send(200, "ok", [(f"X-Filler-{i}", "f" * 500) for i in range(lines)])
        if path == "/slow-headers":
            time.sleep(int(q.get("ms", "3000")) / 1000)
            return self.send(200, "late")
        if path == "/slow-body":
            self.send_response(200)
            self.send_header("Content-Length", "100")
            self.end_headers()
            self.wfile.write(b"0123456789")
            self.wfile.flush()
            time.sleep(int(q.get("ms", "3000")) / 1000)
            self.close_connection = True
            return
        return self.send(404, "no such path")

    do_GET = do_POST = do_PUT = do_DELETE = do_HEAD = handle_any


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    record_alpn = False

    def get_request(self):
        sock, addr = self.socket.accept()  # the TLS handshake happens here
        if self.record_alpn:
            with HITS_LOCK:
                CONNECTIONS.append(sock.selected_alpn_protocol() or "")
        return sock, addr

    def handle_error(self, request, client_address):
        pass  # clients that hang up on purpose (aborts, timeouts) are expected


def serve(context=None, **flags):
    srv = Server(("127.0.0.1", 0), Handler)
    for k, v in flags.items():
        setattr(srv, k, v)
    if context:
        srv.socket = context.wrap_socket(srv.socket, server_side=True)
    threading.Thread(target=srv.serve_forever, daemon=True).start()
    return srv


def openssl(*args):
    subprocess.run(["openssl", *args], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=60)


def make_certificates(d):
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
            "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1",
            "-keyout", f"{d}/server.key", "-out", f"{d}/server.crt")
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
            "-subj", "/CN=vv-client", "-keyout", f"{d}/client.key", "-out", f"{d}/client.crt")
    with open(f"{d}/client.pem", "w") as out:
        for part in ("client.crt", "client.key"):
            out.write(open(f"{d}/{part}").read())
    openssl("pkcs12", "-export", "-in", f"{d}/client.crt", "-inkey", f"{d}/client.key",
            "-out", f"{d}/client.p12", "-passout", "pass:p12pass")
    with open(f"{d}/nocert.pem", "w") as out:
        out.write(open(f"{d}/client.key").read())


def start_tinyproxy(d, name, auth):
    port = peers.free_port()
    conf = f"{d}/{name}.conf"
    with open(conf, "w") as f:
        f.write(f"Port {port}\nListen 127.0.0.1\nTimeout 30\nMaxClients 20\n"
                f"Allow 127.0.0.1\nLogLevel Critical\nLogFile \"{d}/{name}.log\"\n")
        if auth:
            f.write(f"BasicAuth {PROXY_USER} {PROXY_PASSWORD}\n")
    proc = subprocess.Popen(["tinyproxy", "-d", "-c", conf], stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    try:
        peers.wait_for_port(port, proc, "tinyproxy")
    except RuntimeError:
        proc.kill()
        raise
    return proc, port


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    d = tempfile.mkdtemp(prefix="vv-http-")
    procs = []
    try:
        make_certificates(d)
        plain = serve()
        tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls.load_cert_chain(f"{d}/server.crt", f"{d}/server.key")
        secure = serve(tls)
        mtls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        mtls.load_cert_chain(f"{d}/server.crt", f"{d}/server.key")
        mtls.verify_mode = ssl.CERT_REQUIRED
        mtls.load_verify_locations(f"{d}/client.crt")
        mutual = serve(mtls)
        alpn = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        alpn.load_cert_chain(f"{d}/server.crt", f"{d}/server.key")
        alpn.set_alpn_protocols(["h2", "http/1.1"])
        offers_h2 = serve(alpn, record_alpn=True)
        digest_proxy = serve(digest_proxy=True)
        env = dict(os.environ)
        for var in ("http_proxy", "https_proxy", "no_proxy", "HTTP_PROXY", "HTTPS_PROXY",
                    "ALL_PROXY", "all_proxy"):
            env.pop(var, None)
        env.update(VV_HTTP_PORT=str(plain.server_address[1]),
                   VV_HTTPS_PORT=str(secure.server_address[1]),
                   VV_MTLS_PORT=str(mutual.server_address[1]),
                   VV_ALPN_PORT=str(offers_h2.server_address[1]),
                   VV_DIGEST_PROXY_PORT=str(digest_proxy.server_address[1]), VV_CERT_DIR=d)
        if shutil.which("tinyproxy"):
            p1, port1 = start_tinyproxy(d, "proxy", False)
            procs.append(p1)
            p2, port2 = start_tinyproxy(d, "proxyauth", True)
            procs.append(p2)
            env.update(VV_PROXY_PORT=str(port1), VV_PROXYAUTH_PORT=str(port2),
                       VV_PROXY_USER=PROXY_USER, VV_PROXY_PASSWORD=PROXY_PASSWORD)
        return subprocess.run(sys.argv[1:], env=env, timeout=TEST_TIMEOUT).returncode
    finally:
        for p in procs:
            p.terminate()
            try:
                p.wait(timeout=5)
            except subprocess.TimeoutExpired:
                p.kill()
        shutil.rmtree(d, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
