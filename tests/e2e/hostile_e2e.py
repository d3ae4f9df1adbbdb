#!/usr/bin/python3
"""Hostile input end to end: the program run as a CGI process, one request
per row, against hostile upstream answers and hostile settings files.

Upstream answers come from a local HTTP server started here (protocol=http),
one path per kind of answer. Every row states the answer expected, and that
the process exits with status 0 within a time bound and with a peak
resident set below a bound (measured by /usr/bin/time; under the
sanitizers, whose shadow memory says nothing about ours, only the answer and
the time are checked).

  hostile_e2e.py --vevude PATH [--sanitized] [unittest arguments]
"""
import base64
import http.server
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import xml.etree.ElementTree as ET

VEVUDE = None
SANITIZED = False
NS = os.environ.get("VEVUDE_UPSTREAM_NAMESPACE", "https://www.ostrel.example/webservices/")
SOAP_ENV = "http://schemas.xmlsoap.org/soap/envelope/"
MB = 1 << 20
BASE_RSS = 20 * MB        # what the program takes before it reads an answer
TIME_BOUND = 60           # seconds for one row
SANITIZER_SLOWDOWN = 4    # the sanitizer build is several times slower: its rows get longer
PASSWORD = "Kq7v\rZx9-S3cret \"q\" \u00e9"
USER = "relay-user"

CGI_REQUEST = (
    '<?xml version="1.0"?><SOAP-ENV:Envelope xmlns:SOAP-ENV="%s" '
    'xmlns:xsd="http://www.w3.org/2001/XMLSchema" '
    'xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance"><SOAP-ENV:Body>'
    '<NS1:GetFlightsOpSoap xmlns:NS1="urn:uDRUXIntf-IDRUX"><Airport xsi:type="xsd:string">MAD'
    '</Airport></NS1:GetFlightsOpSoap></SOAP-ENV:Body></SOAP-ENV:Envelope>' % SOAP_ENV).encode()

ONE_FIELD_RECORD = b"<FlightOp><Flight>F1</Flight></FlightOp>"
EMPTY_RECORD = b"<FlightOp/>"  # the shortest record: the closest to the memory bound


def envelope(inner):
    return ('<?xml version="1.0" encoding="utf-8"?><soap:Envelope xmlns:soap="%s"><soap:Body>'
            % SOAP_ENV).encode() + inner + b"</soap:Body></soap:Envelope>"


def records_answer(count, record=ONE_FIELD_RECORD):
    return envelope(b'<GetFlightsOpResponse xmlns="' + NS.encode() + b'"><GetFlightsOpResult>'
                    + record * count + b"</GetFlightsOpResult></GetFlightsOpResponse>")


def password_fault(password):
    """A fault whose text repeats the password it was sent, in the ways an
    upstream might: as sent, XML-escaped, and inside an attribute."""
    esc = (password.replace("&", "&amp;").replace("<", "&lt;").replace('"', "&quot;")
           .replace("\r", "&#13;"))
    text = "Login failed for %s with password %s (raw: %s)" % (USER, esc, password)
    return envelope(('<soap:Fault><faultcode>soap:Server</faultcode><faultstring>%s</faultstring>'
                     '<detail><pw value="%s"/></detail></soap:Fault>' % (text, esc)).encode())


DEEP = 100000
ANSWERS = {}  # path -> bytes of a fixed answer, made on first use


def answer(path):
    if path not in ANSWERS:
        if path.startswith("/records/"):
            ANSWERS[path] = records_answer(int(path[9:]))
        elif path.startswith("/empty-records/"):
            ANSWERS[path] = records_answer(int(path[15:]), EMPTY_RECORD)
        elif path == "/invalid-xml":
            ANSWERS[path] = envelope(b"<GetFlightsOpResponse><unclosed>")[:-20]
        elif path == "/deep":  # a record whose field holds deep markup
            ANSWERS[path] = records_answer(1).replace(
                b"F1", b"<d>" * DEEP + b"F1" + b"</d>" * DEEP)
    return ANSWERS.get(path)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def reply(self, status, body, ctype="text/xml; charset=utf-8"):
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        self.rfile.read(length)
        path = self.path
        if path == "/endless":  # chunked, never ending
            self.send_response(200)
            self.send_header("Content-Type", "text/xml")
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            chunk = b"%x\r\n%s\r\n" % (1 << 16, ONE_FIELD_RECORD * ((1 << 16) // 40)
                                       + b" " * ((1 << 16) % 40))
            try:
                while True:
                    self.wfile.write(chunk)
            except OSError:
                pass
            self.close_connection = True
            return
        if path == "/announced":  # 100 GiB announced, a little sent
            self.send_response(200)
            self.send_header("Content-Type", "text/xml")
            self.send_header("Content-Length", str(100 << 30))
            self.end_headers()
            self.wfile.write(records_answer(3)[:500])
            self.close_connection = True
            return
        if path == "/password-fault":
            auth = self.headers.get("Authorization", "")
            password = ""
            if auth.startswith("Basic "):
                password = base64.b64decode(auth[6:]).decode("utf-8", "replace").split(":", 1)[1]
            return self.reply(500, password_fault(password))
        body = answer(path)
        if body is None:
            return self.reply(404, b"no such answer", "text/plain")
        return self.reply(200, body)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        pass  # the program hangs up on purpose (limits)


class Result:
    def __init__(self, status, out, err, rss, seconds):
        self.status, self.out, self.err, self.rss, self.seconds = status, out, err, rss, seconds
        self.err_lines = [l for l in err.decode("utf-8", "replace").splitlines() if l.strip()]
        self.head, _, self.body = out.partition(b"\r\n\r\n")

    def records(self):
        """How many records the answer holds (counted, not parsed: answers
        can be large); None for a fault."""
        if b"<faultcode>" in self.body:
            return None
        m = re.search(rb'arrayType="[^"]*\[(\d+)\]"', self.body)
        return int(m.group(1)) if m else None


def time_bound():
    return TIME_BOUND * (SANITIZER_SLOWDOWN if SANITIZED else 1)


def run(workdir, env_extra=None, body=CGI_REQUEST, path="/soap/IDRUX", method="POST",
        exe=None, timeout=None, address_space=None):
    """One request to the program in `workdir`, with its exit status, output,
    peak RSS and time; killed after `timeout` seconds (the row's bound)."""
    timeout = timeout or time_bound()
    env = {"PATH": "/usr/bin:/bin", "REQUEST_METHOD": method, "PATH_INFO": path,
           "SCRIPT_NAME": "/VEVUDE", "SERVER_NAME": "127.0.0.1", "SERVER_PORT": "8080",
           "HTTP_HOST": "127.0.0.1:8080", "SERVER_PROTOCOL": "HTTP/1.1",
           "GATEWAY_INTERFACE": "CGI/1.1"}
    if method == "POST":
        env.update({"CONTENT_TYPE": "text/xml", "CONTENT_LENGTH": str(len(body)),
                    "HTTP_SOAPACTION": '"urn:uDRUXIntf-IDRUX#GetFlightsOpSoap"'})
    else:
        body = b""
    env.update(env_extra or {})
    for k in ("VEVUDE_UPSTREAM_NAMESPACE", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
        if k in os.environ:
            env[k] = os.environ[k]
    start = time.monotonic()
    # The peak comes from /usr/bin/time: a process forked from this runner
    # would count the runner's own pages in its peak.
    rss_file = os.path.join(tempfile.gettempdir(), "vv-hostile-rss-%d" % os.getpid())
    limit = ["prlimit", "--as=%d" % address_space, "--"] if address_space else []
    p = subprocess.Popen(limit + ["/usr/bin/time", "-f", "%M", "-o", rss_file, exe or VEVUDE],
                         cwd=workdir, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE)
    out, err = [], []

    def pump(src, into):
        for chunk in iter(lambda: src.read(1 << 16), b""):
            into.append(chunk)

    def feed():
        try:
            p.stdin.write(body)
            p.stdin.close()
        except OSError:
            pass

    threads = [threading.Thread(target=pump, args=(p.stdout, out)),
               threading.Thread(target=pump, args=(p.stderr, err)),
               threading.Thread(target=feed)]
    for t in threads:
        t.start()
    killed = []
    timer = threading.Timer(timeout, lambda: (killed.append(True), p.kill()))
    timer.start()
    p.wait()
    timer.cancel()
    for t in threads:
        t.join()
    seconds = time.monotonic() - start
    with open(rss_file) as f:
        fields = f.read().split()
    if killed:
        raise AssertionError("killed after %d seconds" % timeout)
    rss = int(fields[-1]) * 1024 if fields else 0
    os.remove(rss_file)
    return Result(p.returncode, b"".join(out), b"".join(err), rss, seconds)


def config(path, password=PASSWORD, port=0, **extra):
    lines = ["[AUTHENTICATION]", "username=" + USER, "password=" + password, "[WEBSERVICE]",
             "protocol=http", "ipaddress=127.0.0.1:%d" % port, "path=" + path.lstrip("/")]
    lines += ["%s=%s" % kv for kv in extra.items()]
    return "\n".join(lines) + "\n"


class HostileTest(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        cls.server = Server(("127.0.0.1", 0), Handler)
        cls.port = cls.server.server_address[1]
        threading.Thread(target=cls.server.serve_forever, daemon=True).start()

    @classmethod
    def tearDownClass(cls):
        cls.server.shutdown()

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="vv-hostile-")

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def check_bounds(self, row, res, rss_bound):
        self.assertEqual(res.status, 0, row)
        self.assertLess(res.seconds, time_bound(), row)
        if not SANITIZED:
            self.assertLess(res.rss, rss_bound,
                            "%s: peak RSS %.1f MB, bound %.1f MB" % (row, res.rss / MB,
                                                                     rss_bound / MB))

    def check_failure_line(self, row, res, fragment):
        self.assertEqual(len(res.err_lines), 1, (row, res.err_lines))
        self.assertTrue(res.err_lines[0].startswith("VEVUDE relay: "), (row, res.err_lines))
        self.assertIn(fragment, res.err_lines[0], row)
        for leak in [PASSWORD] + PASSWORD.replace("\r", "\n").split("\n"):
            self.assertNotIn(leak, res.err_lines[0], row)
        self.assertNotIn("std::", res.err_lines[0], row)


class UpstreamAnswers(HostileTest):
    """A table of hostile answers from the upstream service."""

    # row: (name, upstream path, records expected, fragment of the stderr
    #       line or None for no line, RSS bound in bytes, skip reason)
    ROWS = [
        ("three one-field records", "/records/3", 3, None, BASE_RSS + 10 * MB, None),
        ("250,000 one-field records", "/records/250000", 250000, None,
         6 * len(records_answer(0)) + 6 * 250000 * len(ONE_FIELD_RECORD) + BASE_RSS, None),
        ("1,000,000 one-field records", "/records/1000000", 1000000, None,
         6 * len(records_answer(0)) + 6 * 1000000 * len(ONE_FIELD_RECORD) + BASE_RSS, None),
        ("1,000,000 records without fields", "/empty-records/1000000", 1000000, None,
         6 * len(records_answer(0)) + 6 * 1000000 * len(EMPTY_RECORD) + BASE_RSS, None),
        ("endless chunked answer", "/endless", 0,
         "Error reading data: (63) Maximum file size exceeded", 256 * MB + 64 * MB, None),
        ("100 GiB announced, 500 bytes sent", "/announced", 0,
         "Error reading data: (63) Maximum file size exceeded", BASE_RSS + 10 * MB, None),
        ("fault repeating the password", "/password-fault", 0, "ERemotableException: Login failed",
         BASE_RSS + 10 * MB, None),
        ("invalid XML", "/invalid-xml", 0, "EDOMParseError", BASE_RSS + 10 * MB, None),
        # The field's markup is relayed as its text.
        ("a field nested 100,000 levels deep", "/deep", 1, None, 6 * len(answer("/deep")) + BASE_RSS,
         None),
    ]

    def test_rows(self):
        for name, path, count, fragment, rss_bound, skip in self.ROWS:
            with self.subTest(name):
                if skip:
                    self.skipTest(skip)
                if SANITIZED and count > 250000:
                    # Ten times slower under the sanitizers; the 250,000 row
                    # covers the same code there, the plain build the bound.
                    self.skipTest("too slow under the sanitizers")
                with open(os.path.join(self.work, "config.ini"), "w") as f:
                    f.write(config(path, port=self.port))
                res = run(self.work)
                self.check_bounds(name, res, rss_bound)
                self.assertTrue(res.head.startswith(b"Status: 200") or b"200" in res.head,
                                (name, res.head))
                self.assertEqual(res.records(), count, (name, res.body[:300]))
                if fragment is None:
                    self.assertEqual(res.err_lines, [], name)
                else:
                    self.check_failure_line(name, res, fragment)


    def test_out_of_memory_is_a_failure_like_any_other(self):
        # 1,000,000 one-field records (40 MB) under an address-space limit:
        # all of them where the call fits (it peaks near 130 MB, and takes
        # less than 180 MB of address space), and where it cannot, the empty
        # list and one line, never a fault.
        if SANITIZED:
            self.skipTest("the sanitizers reserve more address space than any limit")
        with open(os.path.join(self.work, "config.ini"), "w") as f:
            f.write(config("/records/1000000", port=self.port))
        # row: (address-space limit, records expected)
        for limit, count in [(400 * MB, 1000000), (100 * MB, 0)]:
            with self.subTest(limit=limit // MB):
                res = run(self.work, address_space=limit, timeout=3 * time_bound())
                self.assertEqual(res.status, 0)
                self.assertEqual(res.records(), count, res.body[:600])  # None: a fault
                if count:
                    self.assertEqual(res.err_lines, [])
                else:
                    self.check_failure_line("out of memory", res, "EOutOfMemory: Out of memory")


class SettingsFiles(HostileTest):
    """A table of hostile config.ini and port files."""

    def make_config(self, kind):
        path = os.path.join(self.work, "config.ini")
        if kind == "fifo":
            os.mkfifo(path)
        elif kind == "directory":
            os.mkdir(path)
        elif kind == "/dev/zero":
            os.symlink("/dev/zero", path)
        else:
            with open(path, "wb") as f:
                f.write(kind)

    def test_config_rows(self):
        good = config("/records/3", port=self.port).encode("utf-8")
        # row: (name, config.ini, records expected, fragments of the stderr lines)
        rows = [
            ("FIFO", "fifo", 0, ["config.ini is not a regular file", "(upstream :///)"]),
            ("directory", "directory", 0, ["config.ini is not a regular file", "(upstream :///)"]),
            ("symbolic link to /dev/zero", "/dev/zero", 0,
             ["config.ini is not a regular file", "(upstream :///)"]),
            ("oversized, settings first", good + b";" * (3 * MB) + b"\n", 3, []),
            ("oversized, settings beyond the limit", b";" * (2 * MB) + b"\n" + good, 0,
             ["(upstream :///)"]),
            ("control characters in values",
             config("/records/3\x01\x7f", port=self.port).encode().replace(b"127.0.0.1",
                                                                          b"127.0.\x02.1"),
             0, ["VEVUDE relay: "]),
            ("CR in the password, upstream repeats it",
             config("/password-fault", port=self.port).encode("utf-8"), 0,
             ["ERemotableException: Login failed"]),
        ]
        for name, content, count, fragments in rows:
            with self.subTest(name):
                shutil.rmtree(self.work)
                os.mkdir(self.work)
                self.make_config(content)
                res = run(self.work)
                self.check_bounds(name, res, BASE_RSS + 10 * MB)
                self.assertEqual(res.records(), count, (name, res.body[:300]))
                self.assertEqual(len(res.err_lines), len(fragments), (name, res.err_lines))
                for line, fragment in zip(res.err_lines, fragments):
                    self.assertIn(fragment, line, name)
                    self.assertTrue(line.startswith("VEVUDE relay: "), (name, line))
                    self.assertNotRegex(line, "[\x00-\x1f\x7f]", name)
                    for leak in [PASSWORD] + PASSWORD.replace("\r", "\n").split("\n"):
                        self.assertNotIn(leak, line, name)

    def test_port_file_rows(self):
        exe = os.path.join(self.work, "VEVUDE")
        port_file = os.path.join(self.work, "VEVUDE_WSDLADMIN.INI")
        default = "http://127.0.0.1:8080/VEVUDE/soap/IDRUX"
        # row: (name, how to make the port file, status, port addresses
        #       expected (None: an error page), stderr fragment or None)
        rows = [
            ("FIFO", lambda: os.mkfifo(port_file), [default], "is not a regular file"),
            ("directory", lambda: os.mkdir(port_file), [default], "is not a regular file"),
            ("symbolic link to /dev/zero", lambda: os.symlink("/dev/zero", port_file), [default],
             "is not a regular file"),
            ("oversized", lambda: open(port_file, "wb").write(b"[IDRUX]\n" + b";" * MB), None,
             None),
            ("control characters in an address",
             lambda: open(port_file, "wb").write(b"[IDRUX]\nP=http://a.example/\x01\x1b[31m\n"),
             ["http://a.example/\ufffd\ufffd[31m"], None),
        ]
        for name, make, ports, fragment in rows:
            with self.subTest(name):
                shutil.rmtree(self.work)
                os.mkdir(self.work)
                shutil.copy(VEVUDE, exe)
                make()
                res = run(self.work, path="/wsdl/IDRUX", method="GET", exe=exe)
                self.check_bounds(name, res, BASE_RSS + 10 * MB)
                if ports is None:
                    self.assertIn(b"Error: Port file is larger than", res.body, name)
                else:
                    doc = ET.fromstring(res.body)  # well-formed whatever the file holds
                    got = [e.get("location") for e in doc.iter()
                           if e.tag.endswith("}address") and e.get("location")]
                    self.assertEqual(got, ports, name)
                if fragment:
                    self.assertEqual(len(res.err_lines), 1, (name, res.err_lines))
                    self.assertIn(fragment, res.err_lines[0], name)
                else:
                    self.assertEqual(res.err_lines, [], name)


if __name__ == "__main__":
    args = sys.argv[1:]
    VEVUDE = os.path.abspath(args[args.index("--vevude") + 1])
    del args[args.index("--vevude"):args.index("--vevude") + 2]
    if "--sanitized" in args:
        SANITIZED = True
        args.remove("--sanitized")
    unittest.main(argv=[sys.argv[0], "-v"] + args)
