#!/usr/bin/python3
"""Persistent mode end to end: the program as a FastCGI worker.

  Slice      the same requests through lighttpd's mod_cgi, lighttpd's
             mod_fastcgi and Apache's mod_fcgid (the deploy/ files); the
             program's answers must be the same bytes.
  Isolation  sequences of requests in one worker ("--fastcgi SOCKET") against
             the spyne upstream (plain and TLS) and tinyproxy: nothing of one
             request reaches the next, failures stay with their request, and
             every answer is the CGI program's answer byte for byte.
  Lifecycle  SIGTERM, VEVUDE_MAX_REQUESTS, a thousand requests without a leak.
  ScaleOut   nginx (deploy/nginx/vevude-fastcgi.conf) over two spawn-fcgi workers;
             one is killed under load and the other carries on.

Every server runs on loopback (free ports or Unix sockets in a temporary
folder) and is stopped at the end; every wait is bounded.

  fastcgi_e2e.py --vevude PATH [unittest arguments, e.g. a class name]
"""
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import http.client
import xml.etree.ElementTree as ET
from xml.sax.saxutils import escape

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import fastcgi_client as fcgi  # noqa: E402
import relay_e2e as relay  # noqa: E402  (upstream, proxy and certificate helpers)

VEVUDE = None
DEPLOY = os.path.join(HERE, "..", "..", "deploy")
LIGHTTPD = shutil.which("lighttpd") or "/usr/sbin/lighttpd"
NGINX = shutil.which("nginx") or "/usr/sbin/nginx"
APACHE = shutil.which("apache2") or "/usr/sbin/apache2"
SPAWN_FCGI = shutil.which("spawn-fcgi") or "/usr/bin/spawn-fcgi"
TINYPROXY = shutil.which("tinyproxy") or "/usr/bin/tinyproxy"
START_TIMEOUT = 15  # seconds for a server to come up
STOP_TIMEOUT = 10  # seconds for a worker to end after SIGTERM
SANITIZED = bool(os.environ.get("ASAN_OPTIONS"))
SOAPACTION = '"urn:uDRUXIntf-IDRUX#GetFlightsOpSoap"'


def soap_body(airport):
    return (relay.CGI_REQUEST % (relay.SOAP_ENV, escape(airport))).encode("utf-8")


def soap_params(body, extra=None):
    params = fcgi.cgi_params("POST", "/soap/IDRUX", body, {"HTTP_SOAPACTION": SOAPACTION})
    params.update(extra or {})
    return params


def records_of(output):
    """The records of a CGI-style SOAP answer; None for a fault."""
    _, _, xml = output.partition(b"\r\n\r\n")
    body = ET.fromstring(xml).find("{%s}Body" % relay.SOAP_ENV)
    first = list(body)[0]
    if first.tag.endswith("Fault"):
        return None
    ids = {e.get("id"): e for e in body.iter() if e.get("id")}
    found = []
    for item in list(list(first)[0]):
        rec = ids[item.get("href")[1:]] if item.get("href") else item
        found.append({c.tag.split("}")[-1]: c.text or "" for c in rec})
    return found


def run_cgi(cwd, params, body=b""):
    """The CGI program's standard output for the same variables and body."""
    env = {k: v for k, v in os.environ.items() if k.startswith(("ASAN", "UBSAN", "LSAN"))}
    env.update(params)
    p = subprocess.run([VEVUDE], cwd=cwd, env=env, input=body, capture_output=True, timeout=60)
    return p.stdout


def wait_until(ready, proc, what):
    deadline = time.time() + START_TIMEOUT
    while time.time() < deadline:
        if proc is not None and proc.poll() is not None:
            raise RuntimeError("%s exited early (%s)" % (what, proc.returncode))
        value = ready()
        if value:
            return value
        time.sleep(0.05)
    raise RuntimeError("%s did not start" % what)


def can_connect(address):
    try:
        fcgi.connect(address).close()
        return True
    except OSError:
        return False


def rss_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        return int(re.search(r"VmRSS:\s*(\d+)", f.read()).group(1))


class Worker:
    """One "VEVUDE --fastcgi SOCKET" process in its own folder, which holds
    the config.ini it reads."""

    def __init__(self, folder, env=None, config=None, listen=None):
        """`listen`: (argument, address to connect to); a Unix socket in
        the folder by default."""
        self.folder = folder
        arg, self.address = listen or (os.path.join(folder, "worker.sock"),) * 2
        self.errors = os.path.join(folder, "worker.err")
        if config is not None:
            self.set_config(config)
        full = relay.clean_env()
        full.update(env or {})
        with open(self.errors, "ab") as err:
            self.proc = subprocess.Popen([VEVUDE, "--fastcgi", arg], cwd=folder, env=full,
                                         stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                         stderr=err)
        wait_until(lambda: can_connect(self.address), self.proc, "worker")

    def set_config(self, text):
        path = os.path.join(self.folder, "config.ini")
        if text is None:
            if os.path.exists(path):
                os.remove(path)
            return
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)

    def call(self, params, body=b""):
        return fcgi.call(self.address, params, body)[0]

    def soap(self, airport):
        body = soap_body(airport)
        return self.call(soap_params(body), body)

    def error_lines(self):
        with open(self.errors, encoding="utf-8", errors="replace") as f:
            return [l for l in f.read().splitlines() if l.strip()]

    def stop(self):
        """SIGTERM; the exit status."""
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
        try:
            return self.proc.wait(STOP_TIMEOUT)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            return "hung"


class WorkerCase(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="vevude-fcgi-")
        self.addCleanup(shutil.rmtree, self.work, True)

    def start_worker(self, env=None, config=None):
        w = Worker(self.work, env, config)
        self.addCleanup(w.stop)
        return w

    def assertNoComplaints(self, worker):
        for line in worker.error_lines():
            for word in ("Sanitizer", "runtime error", "ERROR"):
                self.assertNotIn(word, line)

    def assertSameAsCGI(self, worker, params, body=b""):
        got = worker.call(params, body)
        self.assertEqual(got, run_cgi(self.work, params, body))
        return got


class Isolation(WorkerCase):
    """Request sequences in one worker: each step's answer and what reached
    the upstream depend on that step alone."""

    @classmethod
    def setUpClass(cls):
        cls.peers = tempfile.mkdtemp(prefix="vevude-fcgi-peers-")
        cls.up = relay.Upstream(cls.peers, "plain")
        cert, key = relay.make_certificate(cls.peers)
        cls.ca = cert
        cls.tls = relay.Upstream(cls.peers, "tls", cert, key)
        cls.proxy_port = relay.free_port()
        conf = os.path.join(cls.peers, "tinyproxy.conf")
        with open(conf, "w") as f:
            f.write("Port %d\nListen 127.0.0.1\nTimeout 30\nAllow 127.0.0.1\nMaxClients 10\n"
                    "LogLevel Error\nPidFile \"%s/tinyproxy.pid\"\nBasicAuth proxyuser proxypw\n"
                    % (cls.proxy_port, cls.peers))
        cls.proxy = subprocess.Popen([TINYPROXY, "-d", "-c", conf], stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        relay.wait_for_port(cls.proxy_port, cls.proxy)

    @classmethod
    def tearDownClass(cls):
        relay.stop(cls.proxy)
        cls.tls.close()
        cls.up.close()
        shutil.rmtree(cls.peers, ignore_errors=True)

    def plain(self, path=relay.PATH, auth=(relay.USER, relay.PASSWORD), **extra):
        return relay.config(auth=auth, protocol="http", ipaddress="127.0.0.1:%d" % self.up.port,
                            path=path, **extra)

    def test_credentials_cookies_and_proxy_stay_with_their_request(self):
        via_proxy = dict(proxyip="http://127.0.0.1", proxyport=str(self.proxy_port))
        cases = [
            # (step, config.ini, upstream requests: (authorization?, cookie?, through proxy?))
            ("credentials, a cookie set on the way",
             self.plain("setcookie"), [(True, False, False), (True, True, False)]),
            ("no credentials", self.plain(auth=None), [(False, False, False)]),
            ("credentials for the proxy only",
             self.plain(auth=("proxyuser", "proxypw"), **via_proxy), [(False, False, True)]),
            ("no proxy, no credentials", self.plain(auth=None), [(False, False, False)]),
            ("credentials again", self.plain(), [(True, False, False)]),
        ]
        w = self.start_worker()
        for step, cfg, sent in cases:
            with self.subTest(step):
                self.up.clear()
                w.set_config(cfg)
                self.assertEqual(records_of(w.soap("N3")), relay.expected("N3"))
                got = []
                for r in self.up.requests():
                    names = [k.lower() for k, _ in r["headers"]]
                    got.append(("authorization" in names, "cookie" in names, "via" in names))
                self.assertEqual(got, sent)
        self.assertNoComplaints(w)

    def test_certificate_decisions_stay_with_their_request(self):
        def tls(**extra):
            return relay.config(auth=(relay.USER, relay.PASSWORD), protocol="https",
                                ipaddress="127.0.0.1:%d" % self.tls.port, path=relay.PATH, **extra)
        cases = [
            # (step, config.ini, records expected, requests that reached the upstream)
            ("accepted: ignoreinvalidcerts=1", tls(ignoreinvalidcerts="1"), True, 1),
            ("validated: refused", tls(), False, 0),
            ("accepted again", tls(ignoreinvalidcerts="1"), True, 1),
            ("validated with ignoreinvalidcerts=0: refused", tls(ignoreinvalidcerts="0"), False, 0),
            ("validated against its CA: accepted", tls(cafile=self.ca), True, 1),
            ("validated without the CA: refused", tls(), False, 0),
        ]
        w = self.start_worker()
        for step, cfg, accepted, reached in cases:
            with self.subTest(step):
                self.tls.clear()
                w.set_config(cfg)
                self.assertEqual(records_of(w.soap("N3")),
                                 relay.expected("N3") if accepted else [])
                self.assertEqual(len(self.tls.requests()), reached)
        refusals = [l for l in w.error_lines() if "VEVUDE relay" in l]
        self.assertEqual(len(refusals), 3, refusals)
        for line in refusals:
            self.assertNotIn(relay.PASSWORD, line)

    def test_each_request_reads_config_ini_afresh(self):
        closed = relay.free_port()
        cases = [
            # (step, config.ini or None, airport, records)
            ("no config.ini", None, "N3", []),
            ("written", self.plain(), "N3", relay.expected("N3")),
            ("path changed to a failing one", self.plain("fail/404"), "N3", []),
            ("path back", self.plain(), "MAD", relay.expected("MAD")),
            ("address changed to a closed port",
             relay.config(protocol="http", ipaddress="127.0.0.1:%d" % closed, path=relay.PATH),
             "N3", []),
            ("removed", None, "N3", []),
            ("written again", self.plain(), "N0", []),
        ]
        w = self.start_worker()
        for step, cfg, airport, want in cases:
            with self.subTest(step):
                w.set_config(cfg)
                self.assertEqual(records_of(w.soap(airport)), want)

    def test_a_request_that_fails_leaves_the_next_one_untouched(self):
        big = soap_body("N1000")
        short = soap_body("N3")
        cases = [
            # (what happens, raw bytes sent, answer read?) - the connection is
            # closed right after sending when the answer is not read.
            ("connection closed after the variables",
             fcgi.request_bytes(soap_params(short), close_stdin=False), False),
            ("connection closed inside the body",
             fcgi.request_bytes(soap_params(short), short[:40], close_stdin=False), False),
            ("client gone before a large answer", fcgi.request_bytes(soap_params(big), big), False),
            ("not a FastCGI record at all", b"GET / HTTP/1.0\r\n\r\n", False),
            ("variables above the limit",
             fcgi.request_bytes(fcgi.cgi_params("GET", "/", extra={"HTTP_X": "x" * 140000})),
             True),
        ]
        w = self.start_worker(config=self.plain())
        normal = w.soap("N3")
        self.assertEqual(records_of(normal), relay.expected("N3"))
        for what, raw, read in cases:
            with self.subTest(what):
                with fcgi.connect(w.address) as s:
                    s.sendall(raw)
                    if read:
                        out = fcgi.read_answer(s)[0]
                        self.assertTrue(out.startswith(b"Status: 400 Bad Request\r\n"), out[:80])
                self.assertEqual(w.soap("N3"), normal)
                self.assertIsNone(w.proc.poll())
        self.assertNoComplaints(w)

    def test_answers_are_the_cgi_programs_bytes(self):
        # Errors included: each is answered exactly as the CGI program
        # answers it, and the worker goes on with the next.
        body = soap_body("N3")
        cut = dict(soap_params(body), CONTENT_LENGTH=str(len(body) + 50))
        cases = [
            ("records", soap_params(body), body),
            ("unknown SOAPAction: fault",
             soap_params(body, {"HTTP_SOAPACTION": '"urn:nothing#here"'}), body),
            ("not XML: fault", soap_params(b"<oops"), b"<oops"),
            ("body shorter than announced", cut, body),
            ("service page", fcgi.cgi_params("GET", "/"), b""),
            ("WSDL", fcgi.cgi_params("GET", "/wsdl/IDRUX"), b""),
            ("WSDL listing", fcgi.cgi_params("GET", "/wsdl"), b""),
            ("WS-Inspection", fcgi.cgi_params("GET", "/inspection.wsil"), b""),
            ("bad query encoding: error page",
             fcgi.cgi_params("GET", "/wsdl/IDRUX", extra={"QUERY_STRING": "intf=%zz"}), b""),
            ("body above the limit: refused unread",
             dict(soap_params(body), CONTENT_LENGTH=str(64 * 1024 * 1024)), body),
            ("no variables at all", {}, b""),
            ("records again", soap_params(body), body),
        ]
        w = self.start_worker(config=self.plain())
        for what, params, data in cases:
            with self.subTest(what):
                got = self.assertSameAsCGI(w, params, data)
                self.assertTrue(got)
        self.assertNoComplaints(w)


class Lifecycle(WorkerCase):
    def test_sigterm_finishes_the_request_in_progress_then_exits(self):
        w = self.start_worker()
        body = soap_body("MAD")
        params = soap_params(body)
        with fcgi.connect(w.address) as s:
            s.sendall(fcgi.request_bytes(params, body[:30], close_stdin=False))
            time.sleep(0.3)  # the worker is reading the body now
            w.proc.send_signal(signal.SIGTERM)
            time.sleep(0.3)
            self.assertIsNone(w.proc.poll())
            s.sendall(fcgi.record(fcgi.STDIN, body[30:]) + fcgi.record(fcgi.STDIN))
            out = fcgi.read_answer(s)[0]
        self.assertEqual(out, run_cgi(self.work, params, body))
        self.assertEqual(w.proc.wait(STOP_TIMEOUT), 0)
        self.assertFalse(os.path.exists(w.address))

    def test_standard_input_decides_the_mode(self):
        # A process manager passes a listening socket; a web server starting
        # a CGI program passes a pipe, a file or a connected socket.
        params = fcgi.cgi_params("GET", "/wsdl/IDRUX")
        cgi_answer = run_cgi(self.work, params)
        env = dict(relay.clean_env(), **params)
        for kind in ("pipe", "connected socket"):
            with self.subTest(kind):
                if kind == "pipe":
                    p = subprocess.run([VEVUDE], cwd=self.work, env=env, input=b"",
                                       capture_output=True, timeout=60)
                else:
                    a, b = socket.socketpair()
                    with a, b:
                        p = subprocess.run([VEVUDE], cwd=self.work, env=env, stdin=b,
                                           capture_output=True, timeout=60)
                self.assertEqual((p.returncode, p.stdout), (0, cgi_answer))
        with self.subTest("listening socket"):
            address = os.path.join(self.work, "manager.sock")
            listener = socket.socket(socket.AF_UNIX)
            listener.bind(address)
            listener.listen(8)
            with listener:
                # A manager's environment has no CGI variables.
                p = subprocess.Popen([VEVUDE], cwd=self.work, env=relay.clean_env(),
                                     stdin=listener, stdout=subprocess.DEVNULL)
            try:
                self.assertEqual(fcgi.call(address, params)[0], cgi_answer)
                p.send_signal(signal.SIGTERM)
                self.assertEqual(p.wait(STOP_TIMEOUT), 0)
            finally:
                relay.stop(p)

    def test_command_line(self):
        busy = socket.socket()
        busy.bind(("127.0.0.1", 0))
        busy.listen(1)
        cgi = dict(fcgi.cgi_params("GET", "/wsdl/IDRUX"), **relay.clean_env())
        cases = [
            # (arguments, environment, exit status, standard error contains, output starts)
            (["--fastcgi"], None, 2, "wrong number of arguments for --fastcgi", b""),
            (["--fastcgi", ""], None, 2, "--fastcgi needs an address", b""),
            (["--fastcgi", "a", "b"], None, 2, "wrong number of arguments for --fastcgi", b""),
            (["--fastcgi", "127.0.0.1:%d" % busy.getsockname()[1]], None, 1, "cannot listen on",
             b""),
            (["--fastcgi", "/nonexistent/dir/w.sock"], None, 1, "cannot listen on", b""),
            # A CGI request never reads its command line: a query without
            # "=" reaches a CGI program as arguments.
            (["--fastcgi", "127.0.0.1:1"], cgi, 0, "", b"Status: 200 OK\r\n"),
        ]
        with busy:
            for args, env, status, message, output in cases:
                with self.subTest(args=args, cgi=env is not None):
                    p = subprocess.run([VEVUDE] + args, cwd=self.work, env=env or relay.clean_env(),
                                       input=b"", capture_output=True, timeout=60)
                    self.assertEqual(p.returncode, status)
                    self.assertIn(message, p.stderr.decode())
                    self.assertTrue(p.stdout.startswith(output), p.stdout[:60])

    def test_listens_on_tcp_by_itself(self):
        for form in ("127.0.0.1:%d", ":%d"):
            with self.subTest(form):
                port = relay.free_port()
                w = Worker(self.work, listen=(form % port, ("127.0.0.1", port)))
                try:
                    self.assertEqual(records_of(w.soap("MAD")), [])
                finally:
                    self.assertEqual(w.stop(), 0)

    def test_a_socket_file_left_behind_is_replaced_a_live_one_is_not(self):
        stale = socket.socket(socket.AF_UNIX)
        stale.bind(os.path.join(self.work, "worker.sock"))  # bound, never listening
        stale.close()
        w = self.start_worker()
        self.assertEqual(records_of(w.soap("MAD")), [])
        p = subprocess.run([VEVUDE, "--fastcgi", w.address], cwd=self.work, env=relay.clean_env(),
                           capture_output=True, timeout=60)
        self.assertEqual(p.returncode, 1)
        self.assertIn("cannot listen on %s: Address already in use" % w.address, p.stderr.decode())
        self.assertEqual(records_of(w.soap("MAD")), [])

    def test_a_kept_connection_carries_request_after_request(self):
        # A web server may keep its connection to the worker (nginx with
        # fastcgi_keep_conn): the next request arrives on it, and a stop
        # signal still ends a worker that waits on it.
        w = self.start_worker()
        cases = [
            ("service page", fcgi.cgi_params("GET", "/"), b""),
            ("SOAP call", soap_params(soap_body("MAD")), soap_body("MAD")),
            ("WSDL", fcgi.cgi_params("GET", "/wsdl/IDRUX"), b""),
        ]
        with fcgi.connect(w.address) as s:
            for what, params, body in cases:
                with self.subTest(what):
                    s.sendall(fcgi.request_bytes(params, body, keep=True))
                    self.assertEqual(fcgi.read_answer(s)[0], run_cgi(self.work, params, body))
            w.proc.send_signal(signal.SIGTERM)
            self.assertEqual(w.proc.wait(STOP_TIMEOUT), 0)

    def test_sigterm_while_idle_exits_at_once(self):
        w = self.start_worker()
        self.assertEqual(records_of(w.soap("MAD")), [])
        self.assertEqual(w.stop(), 0)

    def test_max_requests_then_a_clean_exit(self):
        cases = [
            # (VEVUDE_MAX_REQUESTS, requests answered before the worker ends or None)
            ("3", 3),
            ("1", 1),
            ("", None),
            ("0", None),
            ("many", None),
        ]
        for value, limit in cases:
            with self.subTest(value=value):
                w = Worker(self.work, {"VEVUDE_MAX_REQUESTS": value})
                try:
                    for _ in range(limit or 4):
                        self.assertEqual(records_of(w.soap("MAD")), [])
                    if limit:
                        self.assertEqual(w.proc.wait(STOP_TIMEOUT), 0)
                        self.assertFalse(can_connect(w.address))
                    else:
                        self.assertIsNone(w.proc.poll())
                    warned = any("VEVUDE_MAX_REQUESTS" in l for l in w.error_lines())
                    self.assertEqual(warned, value == "many")
                finally:
                    self.assertEqual(w.stop(), 0)
                    os.remove(w.errors)

    def test_a_thousand_requests_leave_no_leak_and_no_growth(self):
        peers = tempfile.mkdtemp(prefix="vevude-fcgi-up-")
        self.addCleanup(shutil.rmtree, peers, True)
        up = relay.Upstream(peers, "plain")
        self.addCleanup(up.close)
        cfg = relay.config(auth=(relay.USER, relay.PASSWORD), protocol="http",
                           ipaddress="127.0.0.1:%d" % up.port, path=relay.PATH)
        w = self.start_worker(env={"VEVUDE_MAX_REQUESTS": "1000"}, config=cfg)
        body = soap_body("N3")
        mix = [
            (soap_params(body), body, relay.expected("N3")),
            (fcgi.cgi_params("GET", "/wsdl/IDRUX"), b"", None),
            (soap_params(b"<oops"), b"<oops", None),
            (fcgi.cgi_params("GET", "/"), b"", None),
        ]
        first = {}
        baseline = None
        for i in range(1000):
            params, data, want = mix[i % len(mix)]
            out = w.call(params, data)
            if want is not None:
                self.assertEqual(records_of(out), want)
            self.assertEqual(out, first.setdefault(i % len(mix), out))
            if i == 199:
                baseline = rss_kb(w.proc.pid)
            if i == 998:
                last = rss_kb(w.proc.pid)
        # The worker exits by itself after the thousandth; the leak checker
        # of a sanitizer build makes that exit fail if anything was lost.
        self.assertEqual(w.proc.wait(60), 0)
        self.assertNoComplaints(w)
        if not SANITIZED:
            self.assertLessEqual(last, baseline * 1.05 + 256, (baseline, last))


class Slice(unittest.TestCase):
    """The same requests through lighttpd's mod_cgi, lighttpd's mod_fastcgi
    (deploy/lighttpd/vevude-fastcgi.conf) and Apache's mod_fcgid
    (deploy/apache/vevude-fcgid.conf), one after the other on the same port: the
    program's answers are the same bytes."""

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="vevude-fcgi-slice-")
        os.chmod(cls.work, 0o755)  # Apache's workers run as www-data
        cls.up = relay.Upstream(cls.work, "plain")
        cls.config = relay.config(auth=(relay.USER, relay.PASSWORD), protocol="http",
                                  ipaddress="127.0.0.1:%d" % cls.up.port, path=relay.PATH)

    @classmethod
    def tearDownClass(cls):
        cls.up.close()
        shutil.rmtree(cls.work, ignore_errors=True)

    def folder(self, root):
        """The service folder: the program and its config.ini."""
        os.makedirs(root, mode=0o755)
        os.chmod(root, 0o755)
        os.symlink(VEVUDE, os.path.join(root, "VEVUDE"))
        with open(os.path.join(root, "config.ini"), "w") as f:
            f.write(self.config)
        os.chmod(os.path.join(root, "config.ini"), 0o644)

    def lighttpd(self, mode, root, port):
        os.makedirs(os.path.join(root, "htdocs"))
        if mode == "lighttpd-cgi":
            self.folder(os.path.join(root, "htdocs", "svc"))
            conf = ('server.document-root = "%s/htdocs"\nserver.bind = "127.0.0.1"\n'
                    'server.port = 8080\nserver.modules = ("mod_alias", "mod_cgi")\n'
                    'alias.url = ("/VEVUDE" => "%s/htdocs/svc/VEVUDE")\n'
                    'cgi.assign = ("" => "")\nserver.errorlog = "%s/error.log"\n'
                    % (root, root, root))
        else:
            self.folder(os.path.join(root, "svc"))
            with open(os.path.join(DEPLOY, "lighttpd", "vevude-fastcgi.conf")) as f:
                conf = f.read().replace("/srv/vevude/htdocs", root + "/htdocs")
            conf = conf.replace("/srv/vevude/error.log", root + "/error.log")
            conf = conf.replace("/srv/vevude", root + "/svc")
        conf = conf.replace("server.port = 8080", "server.port = %d" % port)
        path = os.path.join(root, "lighttpd.conf")
        with open(path, "w") as f:
            f.write(conf)
        return [LIGHTTPD, "-D", "-f", path]

    def apache(self, root, port):
        self.folder(os.path.join(root, "svc"))
        ipc = os.path.join(root, "fcgid")
        os.makedirs(ipc)
        root_user = os.geteuid() == 0  # then the workers run as www-data
        if root_user:
            shutil.chown(ipc, "www-data")
        with open(os.path.join(DEPLOY, "apache", "vevude-fcgid.conf")) as f:
            site = f.read().replace("/srv/vevude", root + "/svc")
        if SANITIZED:
            site += "FcgidInitialEnv ASAN_OPTIONS %s\n" % os.environ["ASAN_OPTIONS"]
        with open(os.path.join(root, "site.conf"), "w") as f:
            f.write(site)
        modules = "/usr/lib/apache2/modules"
        path = os.path.join(root, "httpd.conf")
        with open(path, "w") as f:
            f.write("ServerRoot %s\nServerName 127.0.0.1\nListen 127.0.0.1:%d\n"
                    "PidFile %s/httpd.pid\nErrorLog %s/error.log\nLogLevel warn\n"
                    "LoadModule mpm_event_module %s/mod_mpm_event.so\n"
                    "LoadModule authz_core_module %s/mod_authz_core.so\n"
                    "LoadModule alias_module %s/mod_alias.so\n"
                    "%s"
                    "FcgidIPCDir %s\nFcgidProcessTableFile %s/table\n"
                    "Include %s/site.conf\n"
                    % (root, port, root, root, modules, modules, modules,
                       "User www-data\nGroup www-data\n" if root_user else "", ipc, ipc, root))
        return [APACHE, "-DFOREGROUND", "-f", path]

    def answers(self, mode, port, requests):
        root = os.path.join(self.work, mode)
        os.makedirs(root)
        os.chmod(root, 0o755)
        cmd = self.apache(root, port) if mode == "apache-fcgid" else self.lighttpd(mode, root, port)
        proc = subprocess.Popen(cmd, cwd=root, env=relay.clean_env(),
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            relay.wait_for_port(port, proc)
            got = []
            for method, path, headers, body in requests:
                conn = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
                try:
                    conn.request(method, path, body=body, headers=headers)
                    r = conn.getresponse()
                    heads = sorted((k, v) for k, v in r.getheaders() if k.lower() != "date")
                    got.append((r.status, r.reason, heads, r.read()))
                finally:
                    conn.close()
        finally:
            relay.stop(proc)
        with open(os.path.join(root, "error.log"), encoding="utf-8", errors="replace") as f:
            log = f.read()
        return got, log

    def test_every_server_answers_the_same_bytes(self):
        soap = {"Content-Type": "text/xml", "SOAPAction": SOAPACTION}
        requests = [
            ("POST", "/VEVUDE/soap/IDRUX", soap, soap_body("N3")),
            ("POST", "/VEVUDE/soap/IDRUX", soap, soap_body("N1000")),
            ("POST", "/VEVUDE/soap/IDRUX", dict(soap, SOAPAction='"urn:no#such"'), soap_body("N3")),
            ("POST", "/VEVUDE/soap/IDRUX", soap, b"<not-soap/>"),
            ("GET", "/VEVUDE/", {}, None),
            ("GET", "/VEVUDE/wsdl/IDRUX", {}, None),
            ("GET", "/VEVUDE/wsdl", {}, None),
        ]
        port = relay.free_port()
        got = {mode: self.answers(mode, port, requests)
               for mode in ("lighttpd-cgi", "lighttpd-fastcgi", "apache-fcgid")}
        cgi = got["lighttpd-cgi"][0]
        self.assertEqual(len(cgi), len(requests))
        self.assertEqual(records_of(b"\r\n\r\n" + cgi[0][3]), relay.expected("N3"))

        def program_part(answer):
            status, reason, heads, body = answer
            ctype = [v for k, v in heads if k.lower() == "content-type"]
            return status, reason, ctype, body

        for req, a, b, c in zip(requests, cgi, got["lighttpd-fastcgi"][0],
                                got["apache-fcgid"][0]):
            with self.subTest(request=req[:2], body=(req[3] or b"")[-60:]):
                self.assertEqual(a, b)  # the same server: every header too
                self.assertEqual(program_part(a), program_part(c))
        for mode, (_, log) in got.items():
            for word in ("Sanitizer", "runtime error"):
                self.assertNotIn(word, log, mode)


class ScaleOut(unittest.TestCase):
    """nginx spreads requests over two workers started by spawn-fcgi on two
    ports; one is killed under load and the other carries on."""

    CLIENTS = 6
    RUN_SECONDS = 6
    KILL_AFTER = 2
    MAX_REQUESTS = 20000  # a bound on the whole run

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="vevude-fcgi-scale-")
        self.addCleanup(shutil.rmtree, self.work, True)
        self.procs = []
        self.addCleanup(lambda: [relay.stop(p) for p in self.procs])

    def start_backend(self, port):
        # Each worker in its own folder (no config.ini: every call answers
        # the empty list without going upstream).
        folder = os.path.join(self.work, "backend-%d" % port)
        os.makedirs(folder)
        os.symlink(VEVUDE, os.path.join(folder, "VEVUDE"))
        # The deployment script execs spawn-fcgi, which execs the worker: the
        # process started here is the worker itself.
        env = relay.clean_env()
        env["PATH"] = os.path.dirname(SPAWN_FCGI) + ":" + env.get("PATH", "/usr/bin:/bin")
        script = os.path.join(DEPLOY, "nginx", "vevude-fastcgi.sh")
        p = subprocess.Popen(["/bin/sh", script, str(port), folder], env=env,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.procs.append(p)
        wait_until(lambda: can_connect(("127.0.0.1", port)), p, "backend")
        return p

    def start_nginx(self, port, backends):
        with open(os.path.join(DEPLOY, "nginx", "vevude-fastcgi.conf")) as f:
            site = f.read()
        site = site.replace("127.0.0.1:9001", "127.0.0.1:%d" % backends[0])
        site = site.replace("127.0.0.1:9002", "127.0.0.1:%d" % backends[1])
        site = site.replace("listen 127.0.0.1:8080", "listen 127.0.0.1:%d" % port)
        shutil.copy("/etc/nginx/fastcgi_params", os.path.join(self.work, "fastcgi_params"))
        with open(os.path.join(self.work, "site.conf"), "w") as f:
            f.write(site)
        w = self.work
        with open(os.path.join(w, "nginx.conf"), "w") as f:
            f.write("daemon off;\nmaster_process on;\nworker_processes 1;\nuser root;\n"
                    "pid %s/nginx.pid;\nerror_log %s/nginx-error.log;\nevents {}\n"
                    "http {\n  access_log off;\n  client_body_temp_path %s/body;\n"
                    "  fastcgi_temp_path %s/fastcgi;\n  proxy_temp_path %s/proxy;\n"
                    "  uwsgi_temp_path %s/uwsgi;\n  scgi_temp_path %s/scgi;\n"
                    "  include %s/site.conf;\n}\n" % ((w,) * 8))
        p = subprocess.Popen([NGINX, "-p", w, "-c", os.path.join(w, "nginx.conf")],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.procs.append(p)
        relay.wait_for_port(port, p)
        return p

    def test_one_worker_killed_under_load_the_other_carries_on(self):
        ports = [relay.free_port(), relay.free_port()]
        workers = [self.start_backend(p) for p in ports]
        web = relay.free_port()
        self.start_nginx(web, ports)
        body = soap_body("MAD")
        headers = {"Content-Type": "text/xml", "SOAPAction": SOAPACTION}
        conn = http.client.HTTPConnection("127.0.0.1", web, timeout=30)
        conn.request("POST", "/VEVUDE/soap/IDRUX", body, headers)
        expected = conn.getresponse().read()
        conn.close()
        self.assertEqual(records_of(b"\r\n\r\n" + expected), [])

        results = []  # (start, end, ok)
        lock = threading.Lock()
        start = time.time()
        stop_at = start + self.RUN_SECONDS

        def client():
            conn = None
            while time.time() < stop_at:
                with lock:
                    if len(results) >= self.MAX_REQUESTS:
                        return
                t0 = time.time()
                try:
                    conn = conn or http.client.HTTPConnection("127.0.0.1", web, timeout=30)
                    conn.request("POST", "/VEVUDE/soap/IDRUX", body, headers)
                    r = conn.getresponse()
                    ok = r.status == 200 and r.read() == expected
                except (OSError, http.client.HTTPException):
                    ok = False
                if not ok and conn:
                    conn.close()
                    conn = None
                with lock:
                    results.append((t0, time.time(), ok))
            if conn:
                conn.close()

        threads = [threading.Thread(target=client) for _ in range(self.CLIENTS)]
        for t in threads:
            t.start()
        time.sleep(self.KILL_AFTER)
        killed_at = time.time()
        workers[0].kill()
        for t in threads:
            t.join(self.RUN_SECONDS + 60)
        failed = [r for r in results if not r[2]]
        after = [r for r in results if r[0] > killed_at + 0.5]
        # Only requests in flight on the killed worker may fail: at most one
        # per client, all started before the kill.
        self.assertLessEqual(len(failed), self.CLIENTS, failed)
        for t0, _, _ in failed:
            self.assertLess(t0, killed_at + 0.5)
        self.assertGreater(len(after), 20)
        self.assertTrue(all(ok for _, _, ok in after))
        self.assertIsNone(workers[1].poll())
        print("scale-out: %d requests, %d failed, %d after the kill"
              % (len(results), len(failed), len(after)), file=sys.stderr)


if __name__ == "__main__":
    args = sys.argv[1:]
    if "--vevude" in args:
        VEVUDE = os.path.abspath(args[args.index("--vevude") + 1])
        del args[args.index("--vevude"):args.index("--vevude") + 2]
    if not VEVUDE:
        sys.exit("usage: fastcgi_e2e.py --vevude PATH [unittest arguments]")
    unittest.main(argv=[sys.argv[0], "-v"] + args)
