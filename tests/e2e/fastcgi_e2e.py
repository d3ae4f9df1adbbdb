#!/usr/bin/python3
"""Persistent mode end to end: the program as a FastCGI worker.

  Slice      each web server of deploy/ serves the same requests through
             its CGI example and its FastCGI one (lighttpd mod_fastcgi,
             Apache mod_fcgid, nginx with spawn-fcgi): the same bytes.
  Isolation  sequences of requests in one worker ("--fastcgi SOCKET") against
             the spyne upstream (plain and TLS) and tinyproxy: nothing of one
             request reaches the next, failures stay with their request, and
             every answer is the CGI program's answer byte for byte.
  Reuse      request sequences in one worker against upstreams and answering
             proxies that keep connections and log which one each request
             came on (keepalive_upstream.py): a connection or TLS session is
             reused only under the same address, proxy, credentials and TLS
             settings; an upstream closing a kept connection costs nothing.
  Lifecycle  SIGTERM, VEVUDE_MAX_REQUESTS, a thousand requests without a leak.
  Peers      web-server peers that misbehave, straight over FastCGI: lengths
             announced beyond reason, connections kept idle, peers that
             stall, a flood of variables; addresses that may connect; what
             "--fastcgi PATH" may replace.
  KeepAlive  nginx keeping its connections to one worker
             (fastcgi_keep_conn): every client is served.
  Restarts   each FastCGI example of deploy/ with its workers starting
             afresh every 25 requests under load: no request is lost.
  ScaleOut   nginx (deploy/nginx/vevude-fastcgi*.conf) over two spawn-fcgi
             workers; one is killed under load and the other carries on.

Every server runs on loopback (free ports or Unix sockets in a temporary
folder) and is stopped at the end; every wait is bounded.

  fastcgi_e2e.py --vevude PATH [unittest arguments, e.g. a class name]
"""
import os
import re
import shutil
import signal
import socket
import struct
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
import peers  # noqa: E402
from peers import wait_until  # noqa: E402
import relay_e2e as relay  # noqa: E402  (upstream, proxy and certificate helpers)
import web_servers  # noqa: E402  (the web servers of the deployment examples)

VEVUDE = None
TINYPROXY = shutil.which("tinyproxy") or "/usr/bin/tinyproxy"
START_TIMEOUT = 15  # seconds for a server to come up
STOP_TIMEOUT = 10  # seconds for a worker to end after SIGTERM
SANITIZED = bool(os.environ.get("ASAN_OPTIONS"))
SOAPACTION = '"urn:uDRUXIntf-IDRUX#GetFlightsOpSoap"'
KEPT_GROUPS = 8  # settings whose connections a worker keeps at once
KEPT_PER_GROUP = 2  # connections it keeps for each
# Seconds after which a kept upstream connection is surely quiet enough to
# serve again: it must wait half as long again as the slowest of the last
# answers took, and one answer slowed to tens of milliseconds by a busy
# machine would otherwise send the next call to a new connection.
QUIET = 0.2


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


def can_connect(address):
    try:
        fcgi.connect(address).close()
        return True
    except OSError:
        return False


def tcp_connections(pid, port):
    """The local ports of the process's established TCP connections to a
    loopback port."""
    inodes = set()
    for fd in os.listdir("/proc/%d/fd" % pid):
        try:
            link = os.readlink("/proc/%d/fd/%s" % (pid, fd))
        except OSError:
            continue
        if link.startswith("socket:["):
            inodes.add(link[8:-1])
    found = []
    for table in ("tcp", "tcp6"):
        with open("/proc/%d/net/%s" % (pid, table)) as f:
            for line in f.readlines()[1:]:
                fields = line.split()
                local, remote, state, inode = fields[1], fields[2], fields[3], fields[9]
                if inode in inodes and state == "01" and int(remote.split(":")[1], 16) == port:
                    found.append(int(local.split(":")[1], 16))
    return sorted(found)


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
        cls.proxy_port = peers.free_port()
        conf = os.path.join(cls.peers, "tinyproxy.conf")
        with open(conf, "w") as f:
            f.write("Port %d\nListen 127.0.0.1\nTimeout 30\nAllow 127.0.0.1\nMaxClients 10\n"
                    "LogLevel Error\nPidFile \"%s/tinyproxy.pid\"\nBasicAuth proxyuser proxypw\n"
                    % (cls.proxy_port, cls.peers))
        cls.proxy = subprocess.Popen([TINYPROXY, "-d", "-c", conf], stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        peers.wait_for_port(cls.proxy_port, cls.proxy)

    @classmethod
    def tearDownClass(cls):
        peers.stop(cls.proxy)
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
        closed = peers.free_port()
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


class KeptUpstream(relay.Upstream):
    """One keepalive_upstream.py process (the spyne upstream with kept
    connections, or with --proxy-credentials an answering proxy); each
    logged request names the connection it came on."""

    def __init__(self, workdir, name, *args):
        self.port_file = os.path.join(workdir, name + ".port")
        self.log = os.path.join(workdir, name + ".log")
        self.proc = subprocess.Popen(
            [sys.executable, os.path.join(HERE, "keepalive_upstream.py"),
             "--port-file", self.port_file, "--log", self.log] + list(args), env=relay.clean_env())
        self.port = int(peers.wait_for_file(self.port_file, self.proc))

    def answered(self):
        """The log entries of the requests it answered (not dropped)."""
        return [r for r in self.requests() if not r["dropped"]]


class Reuse(WorkerCase):
    """Request sequences in one worker against peers that keep connections
    and log which one each request came on. A label names a connection: the
    first row with a label must come on a connection never seen before,
    every later row with it on that same connection."""

    @classmethod
    def setUpClass(cls):
        cls.peers = tempfile.mkdtemp(prefix="vevude-fcgi-reuse-")
        cls.ca, key = relay.make_certificate(cls.peers)
        cls.ca_copy = os.path.join(cls.peers, "ca-copy.pem")
        shutil.copy(cls.ca, cls.ca_copy)
        proxy_users = "proxyuser:proxypw,proxyother:otherpw"
        cls.servers = {
            "up": KeptUpstream(cls.peers, "up"),
            "tls": KeptUpstream(cls.peers, "tls", "--cert", cls.ca, "--key", key),
            "proxy1": KeptUpstream(cls.peers, "proxy1", "--proxy-credentials", proxy_users),
            "proxy2": KeptUpstream(cls.peers, "proxy2", "--proxy-credentials", proxy_users),
        }

    @classmethod
    def tearDownClass(cls):
        for s in cls.servers.values():
            s.close()
        shutil.rmtree(cls.peers, ignore_errors=True)

    def direct(self, query="", auth=(relay.USER, relay.PASSWORD), host="127.0.0.1"):
        return relay.config(auth=auth, protocol="http",
                            ipaddress="%s:%d" % (host, self.servers["up"].port),
                            path=relay.PATH + query)

    def proxied(self, proxy, user, password):
        return relay.config(auth=(user, password), protocol="http",
                            ipaddress="127.0.0.1:%d" % self.servers["up"].port, path=relay.PATH,
                            proxyip="http://127.0.0.1", proxyport=str(self.servers[proxy].port))

    def tls(self, query="", **extra):
        return relay.config(auth=(relay.USER, relay.PASSWORD), protocol="https",
                            ipaddress="127.0.0.1:%d" % self.servers["tls"].port,
                            path=relay.PATH + query, **extra)

    def run_sequence(self, worker, cases):
        """Runs (step, config.ini, server, label, TLS session resumed?) rows;
        a None server: refused, nothing reaches any peer."""
        seen = {}  # (server, label) -> connection number
        for step, cfg, server, label, resumed in cases:
            # A kept connection serves again once it has been quiet for
            # half as long again as the upstream's answers took.
            time.sleep(QUIET)
            with self.subTest(step):
                before = {name: len(s.requests()) for name, s in self.servers.items()}
                worker.set_config(cfg)
                got = records_of(worker.soap("N3"))
                after = {name: s.requests()[before[name]:] for name, s in self.servers.items()}
                if server is None:
                    self.assertEqual(got, [])
                    self.assertEqual([r for new in after.values() for r in new], [])
                    continue
                self.assertEqual(got, relay.expected("N3"))
                answered = [r for r in after[server] if not r["dropped"]]
                self.assertEqual(len(answered), 1, after[server])
                conn = answered[0]["conn"]
                older = [n for (srv, _), n in seen.items() if srv == server]
                if (server, label) in seen:
                    self.assertEqual(conn, seen[(server, label)], "not reused")
                else:
                    self.assertNotIn(conn, older, "an earlier connection reused")
                    seen[(server, label)] = conn
                if resumed is not None:
                    self.assertEqual(answered[0]["resumed"], resumed)
                for other, new in after.items():
                    if other != server:
                        self.assertEqual(new, [], other)

    def test_connections_are_reused_only_under_the_same_address_proxy_and_credentials(self):
        cases = [
            # (step, config.ini, the peer that answers, its connection, TLS session resumed)
            ("first call", self.direct(), "up", "a", None),
            ("the same settings", self.direct(), "up", "a", None),
            ("another path on the same server", self.direct("?x=1"), "up", "a", None),
            ("another user", self.direct(auth=("other-user", relay.PASSWORD)), "up", "b", None),
            ("another password", self.direct(auth=(relay.USER, "other-pw")), "up", "c", None),
            ("no credentials", self.direct(auth=None), "up", "d", None),
            ("the first settings again", self.direct(), "up", "a", None),
            ("another address of the same server", self.direct(host="localhost"), "up", "e", None),
            ("through a proxy", self.proxied("proxy1", "proxyuser", "proxypw"), "proxy1", "p", None),
            ("the same proxy and user", self.proxied("proxy1", "proxyuser", "proxypw"),
             "proxy1", "p", None),
            ("another proxy user", self.proxied("proxy1", "proxyother", "otherpw"),
             "proxy1", "q", None),
            ("another proxy", self.proxied("proxy2", "proxyuser", "proxypw"), "proxy2", "r", None),
            ("the first settings again", self.direct(), "up", "a", None),
        ]
        w = self.start_worker()
        self.run_sequence(w, cases)
        self.assertNoComplaints(w)

    def test_tls_connections_and_sessions_are_reused_only_under_the_same_tls_settings(self):
        cases = [
            # (step, config.ini, the peer that answers, its connection, TLS session resumed)
            ("validated against its CA", self.tls(cafile=self.ca), "tls", "a", False),
            ("the same settings", self.tls(cafile=self.ca), "tls", "a", False),
            ("the upstream closes the connection after its answer",
             self.tls("?conn=close", cafile=self.ca), "tls", "a", False),
            ("the same settings: a new connection resumes the TLS session",
             self.tls(cafile=self.ca), "tls", "b", True),
            ("the same CA at another path", self.tls(cafile=self.ca_copy), "tls", "c", False),
            ("ignoreinvalidcerts=1 with a certificate that passes",
             self.tls(cafile=self.ca, ignoreinvalidcerts="1"), "tls", "d", False),
            ("accepted only because of ignoreinvalidcerts=1", self.tls(ignoreinvalidcerts="1"),
             "tls", "e", False),
            ("accepted again", self.tls(ignoreinvalidcerts="1"), "tls", "e", False),
            ("validated: refused, nothing sent", self.tls(), None, None, None),
            ("validated with ignoreinvalidcerts=0: refused, nothing sent",
             self.tls(ignoreinvalidcerts="0"), None, None, None),
            ("validated against its CA again", self.tls(cafile=self.ca), "tls", "b", True),
        ]
        w = self.start_worker()
        self.run_sequence(w, cases)
        refusals = [l for l in w.error_lines() if "VEVUDE relay" in l]
        self.assertEqual(len(refusals), 2, refusals)
        for line in refusals:
            self.assertIn("Server Certificate not accepted", line)
            self.assertNotIn(relay.PASSWORD, line)

    def test_an_upstream_that_closes_a_kept_connection(self):
        up = self.servers["up"]
        cases = [
            # (step, config.ini, the peer that answers, its connection, TLS session resumed)
            ("kept", self.direct(), "up", "a", None),
            ("the upstream closes it after its answer", self.direct("?conn=close"), "up", "a", None),
            ("the next call: a fresh connection", self.direct(), "up", "b", None),
            ("the upstream will drop the next request on it", self.direct("?conn=drop-next"),
             "up", "b", None),
            ("the next call: dropped on the kept connection, sent again on a fresh one",
             self.direct(), "up", "c", None),
            ("the fresh connection is kept", self.direct(), "up", "c", None),
        ]
        w = self.start_worker()
        self.run_sequence(w, cases)
        dropped = [r for r in up.requests() if r["dropped"]]
        self.assertEqual(len(dropped), 1)
        resent = [r for r in up.answered() if r["conn"] != dropped[0]["conn"]][-2]
        self.assertEqual((resent["line"], resent["body"]), (dropped[0]["line"], dropped[0]["body"]))
        self.assertNoComplaints(w)

    def test_an_upstream_that_drops_every_request_fails_the_call_as_under_cgi(self):
        w = self.start_worker(config=self.direct())
        self.assertEqual(records_of(w.soap("N3")), relay.expected("N3"))
        w.set_config(self.direct("?conn=drop"))
        before = len(self.servers["up"].requests())
        self.assertEqual(records_of(w.soap("N3")), [])
        sent = self.servers["up"].requests()[before:]
        # The kept connection first, then once on a fresh one, like a CGI call.
        self.assertEqual([r["dropped"] for r in sent], [True, True])
        self.assertNotEqual(sent[0]["conn"], sent[1]["conn"])
        body = soap_body("N3")
        env = {k: v for k, v in os.environ.items() if k.startswith(("ASAN", "UBSAN", "LSAN"))}
        env.update(relay.clean_env(), **soap_params(body))
        cgi = subprocess.run([VEVUDE], cwd=self.work, env=env, input=body, capture_output=True,
                             timeout=60)
        cgi_line = [l for l in cgi.stderr.decode().splitlines() if "VEVUDE relay" in l]
        self.assertEqual([l for l in w.error_lines() if "VEVUDE relay" in l], cgi_line)
        self.assertEqual(len(cgi_line), 1)

    def test_nothing_an_upstream_sends_between_calls_is_read_as_an_answer(self):
        # Each call asks for an airport of its own, which the answer names.
        # After its answer the upstream sends more on the connection it
        # keeps: a second whole answer (for INTRUDER) later or at once, or
        # the rest of a body longer than it announced.
        for server in ("up", "tls"):
            for how, pause in (("extra", 0.4), ("extra-now", 0), ("short", 0.15)):
                with self.subTest(server=server, how=how):
                    w = Worker(self.work)
                    try:
                        if server == "up":
                            w.set_config(self.direct("?conn=" + how))
                        else:
                            w.set_config(self.tls("?conn=" + how, cafile=self.ca))
                        for i in range(5):
                            airport = "t%d" % i
                            self.assertEqual(records_of(w.soap(airport)), relay.expected(airport))
                            time.sleep(pause)  # what the upstream sends unasked arrives
                            self.assertNoComplaints(w)
                    finally:
                        self.assertEqual(w.stop(), 0)

    def test_an_answer_owed_to_one_call_never_reaches_the_next(self):
        # A slow upstream that sends, on every connection it keeps, a second
        # answer after each one: a call may read it as its answer (nothing
        # tells them apart), but then the answer still owed to that call
        # must not become the next call's. The calls follow each other at
        # once, faster than the upstream answers.
        for server in ("up", "tls"):
            with self.subTest(server=server):
                w = Worker(self.work)
                try:
                    if server == "up":
                        w.set_config(self.direct("?conn=late-extra"))
                    else:
                        w.set_config(self.tls("?conn=late-extra", cafile=self.ca))
                    got = [records_of(w.soap("c%02d" % i)) for i in range(12)]
                    for i, records in enumerate(got):
                        self.assertIn(records, (relay.expected("c%02d" % i),
                                                relay.expected("INTRUDER")), i)
                    self.assertNoComplaints(w)
                finally:
                    self.assertEqual(w.stop(), 0)

    def test_a_certificate_file_is_trusted_for_what_it_holds(self):
        other, _ = relay.make_certificate(tempfile.mkdtemp(dir=self.work))
        trust = os.path.join(self.work, "trust.pem")
        tls = self.servers["tls"]
        w = self.start_worker(config=self.tls(cafile=trust))
        cases = [
            # (step, what the file holds, the call succeeds)
            ("the upstream's CA", self.ca, True),
            ("replaced in place by a CA that did not sign the upstream", other, False),
            ("replaced by the upstream's CA again", self.ca, True),
            ("replaced by the other CA again", other, False),
        ]
        for step, content, trusted in cases:
            with self.subTest(step):
                shutil.copy(content, trust + ".new")
                os.replace(trust + ".new", trust)
                before = len(tls.requests())
                got = records_of(w.soap("N3"))
                sent = tls.requests()[before:]
                if trusted:
                    self.assertEqual(got, relay.expected("N3"))
                    self.assertEqual(len(sent), 1)
                else:
                    # Refused before anything (the password above all) was sent.
                    self.assertEqual(got, [])
                    self.assertEqual(sent, [])
        refusals = [l for l in w.error_lines() if "VEVUDE relay" in l]
        self.assertEqual(len(refusals), 2, refusals)
        for line in refusals:
            self.assertNotIn(relay.PASSWORD, line)

    def test_kept_connections_stay_bounded(self):
        up = self.servers["up"]
        w = self.start_worker()
        with self.subTest("one setting, many calls: one connection"):
            before = len(up.requests())
            w.set_config(self.direct())
            for _ in range(100):
                self.assertEqual(records_of(w.soap("N3")), relay.expected("N3"))
                time.sleep(QUIET)
            conns = {r["conn"] for r in up.requests()[before:]}
            self.assertEqual(len(conns), 1)
            self.assertEqual(len(tcp_connections(w.proc.pid, up.port)), 1)
        with self.subTest("more settings than are kept, in turn"):
            users = ["user%d" % i for i in range(KEPT_GROUPS + 4)]
            for _ in range(5):
                for user in users:
                    w.set_config(self.direct(auth=(user, relay.PASSWORD)))
                    self.assertEqual(records_of(w.soap("N3")), relay.expected("N3"))
                    # The answer reaches the web server before the worker has
                    # freed the request; the bound holds once it has.
                    bound = KEPT_GROUPS * KEPT_PER_GROUP
                    deadline = time.time() + 5
                    while (len(tcp_connections(w.proc.pid, up.port)) > bound
                           and time.time() < deadline):
                        time.sleep(0.05)
                    self.assertLessEqual(len(tcp_connections(w.proc.pid, up.port)), bound)
        # The kept connections go with the worker; a sanitizer build's leak
        # check at exit sees nothing lost.
        self.assertEqual(w.stop(), 0)
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
                peers.stop(p)

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
                port = peers.free_port()
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

    def test_only_a_socket_is_ever_replaced_or_removed(self):
        # An operator's slip ("--fastcgi config.ini"): whatever is no socket
        # stays as it was, and the worker does not start.
        os.makedirs(os.path.join(self.work, "folder"))
        with open(os.path.join(self.work, "config.ini"), "w") as f:
            f.write("[WEBSERVICE]\n")
        os.symlink("config.ini", os.path.join(self.work, "link"))
        for name in ("config.ini", "folder", "link"):
            with self.subTest(name):
                path = os.path.join(self.work, name)
                before = os.lstat(path)
                p = subprocess.run([VEVUDE, "--fastcgi", path], cwd=self.work,
                                   env=relay.clean_env(), capture_output=True, timeout=60)
                self.assertEqual(p.returncode, 1)
                self.assertIn("cannot listen on %s: it exists and is not a socket" % path,
                              p.stderr.decode())
                after = os.lstat(path)
                self.assertEqual((after.st_ino, after.st_mode, after.st_size),
                                 (before.st_ino, before.st_mode, before.st_size))
        with self.subTest("a socket replaced by a file while the worker runs"):
            w = self.start_worker()
            os.remove(w.address)
            with open(w.address, "w") as f:
                f.write("not a socket")
            self.assertEqual(w.stop(), 0)
            with open(w.address) as f:
                self.assertEqual(f.read(), "not a socket")

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

    def test_max_requests_then_a_fresh_start_that_loses_nothing(self):
        cases = [
            # (VEVUDE_MAX_REQUESTS, requests before the worker starts afresh or None)
            ("3", 3),
            ("1", 1),
            ("", None),
            ("0", None),
            ("many", None),
        ]
        params = fcgi.cgi_params("GET", "/wsdl/IDRUX")
        wsdl = run_cgi(self.work, params)
        for value, limit in cases:
            with self.subTest(value=value):
                w = Worker(self.work, {"VEVUDE_MAX_REQUESTS": value})
                try:
                    # Requests on a connection the web server keeps and on
                    # new ones, before and after the fresh start: the kept
                    # connection is carried over.
                    with fcgi.connect(w.address) as kept:
                        for i in range(2 * (limit or 2) + 1):
                            if i % 2:
                                kept.sendall(fcgi.request_bytes(params, keep=True))
                                self.assertEqual(fcgi.read_answer(kept)[0], wsdl)
                            else:
                                self.assertEqual(records_of(w.soap("MAD")), [])
                    # The same process, with a fresh image once the limit came
                    # (the last one may still be starting).
                    self.assertIsNone(w.proc.poll())

                    def fresh():
                        with open("/proc/%d/environ" % w.proc.pid, "rb") as f:
                            return b"VEVUDE_FASTCGI_FDS=" in f.read()

                    self.assertEqual(within(10, fresh) if limit else fresh(), limit is not None)
                    warned = any("VEVUDE_MAX_REQUESTS" in l for l in w.error_lines())
                    self.assertEqual(warned, value == "many")
                    self.assertNoComplaints(w)
                finally:
                    self.assertEqual(w.stop(), 0)
                    self.assertFalse(os.path.exists(w.address))
                    os.remove(w.errors)

    def test_requests_queued_while_the_worker_starts_afresh_are_served(self):
        w = self.start_worker(env={"VEVUDE_MAX_REQUESTS": "1"})
        params = fcgi.cgi_params("GET", "/wsdl/IDRUX")
        wsdl = run_cgi(self.work, params)
        # Many connections at once: most wait in the listening socket's
        # queue while the worker replaces itself after each request.
        socks = [fcgi.connect(w.address) for _ in range(20)]
        try:
            for s in socks:
                s.sendall(fcgi.request_bytes(params))
            for s in socks:
                self.assertEqual(fcgi.read_answer(s)[0], wsdl)
        finally:
            for s in socks:
                s.close()
        self.assertIsNone(w.proc.poll())
        self.assertNoComplaints(w)

    def test_a_thousand_requests_leave_no_leak_and_no_growth(self):
        peers = tempfile.mkdtemp(prefix="vevude-fcgi-up-")
        self.addCleanup(shutil.rmtree, peers, True)
        up = relay.Upstream(peers, "plain")
        self.addCleanup(up.close)
        cfg = relay.config(auth=(relay.USER, relay.PASSWORD), protocol="http",
                           ipaddress="127.0.0.1:%d" % up.port, path=relay.PATH)
        # It starts afresh three times on the way.
        w = self.start_worker(env={"VEVUDE_MAX_REQUESTS": "300"}, config=cfg)
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
        # The leak checker of a sanitizer build makes the exit fail if
        # anything was lost.
        self.assertEqual(w.stop(), 0)
        self.assertNoComplaints(w)
        if not SANITIZED:
            self.assertLessEqual(last, baseline * 1.05 + 256, (baseline, last))


def raw_request(address, params_content, body=b"", keep=False):
    """One request whose PARAMS stream is given as bytes (the pairs as a
    peer chose to encode them); (stdout, app status) or EOFError."""
    out = fcgi.record(fcgi.BEGIN_REQUEST, struct.pack(">HB5x", fcgi.RESPONDER, int(keep)))
    out += fcgi.record(fcgi.PARAMS, params_content) + fcgi.record(fcgi.PARAMS)
    out += fcgi.record(fcgi.STDIN, body) if body else b""
    out += fcgi.record(fcgi.STDIN)
    with fcgi.connect(address) as s:
        s.sendall(out)
        answer = fcgi.read_answer(s)
    return answer[0], answer[2]


def open_descriptors(pid):
    return len(os.listdir("/proc/%d/fd" % pid))


def within(seconds, condition):
    """True when `condition()` comes true within `seconds`."""
    deadline = time.time() + seconds
    while time.time() < deadline:
        if condition():
            return True
        time.sleep(0.1)
    return condition()


class Peers(WorkerCase):
    """Web-server peers that misbehave, straight over FastCGI: none of them
    kills the worker, and none keeps it from serving the others."""

    LONG = 60  # VEVUDE_FASTCGI_TIMEOUT (seconds) where a stall must last
    SHORT = 2  # where the worker must abandon a stalled peer
    CLIENT_WAIT = 20  # seconds another client waits at most for its answer

    def worker(self, timeout, config=None, tcp=False):
        """A worker with this time limit, on a Unix socket or on TCP."""
        listen = None
        if tcp:
            port = peers.free_port()
            listen = ("127.0.0.1:%d" % port, ("127.0.0.1", port))
        w = Worker(self.work, {"VEVUDE_FASTCGI_TIMEOUT": str(timeout)}, config, listen)
        self.addCleanup(w.stop)
        return w

    def served(self, w):
        """Another client is served while the stalled peer holds on."""
        params = fcgi.cgi_params("GET", "/wsdl/IDRUX")
        with fcgi.connect(w.address) as s:
            s.settimeout(self.CLIENT_WAIT)
            s.sendall(fcgi.request_bytes(params))
            self.assertEqual(fcgi.read_answer(s)[0], run_cgi(self.work, params))

    def test_lengths_announced_beyond_reason_get_a_400_and_the_worker_lives(self):
        big = fcgi.length(0x7FFFFFF0) + fcgi.length(0x0FFFFFFF) + b"tiny"
        cases = [
            # (what the PARAMS stream holds, the sentence of the 400 page)
            ("a pair announcing two gigabytes", big, b"may not exceed 2097152 bytes"),
            ("a name announced at two gigabytes, nothing after it",
             fcgi.length(0x7FFFFFFF) + fcgi.length(0), b"may not exceed 2097152 bytes"),
            ("one variable above 128 KiB", fcgi.pairs({"BIG": "v" * 131070}),
             b"may not exceed 2097152 bytes"),
            ("the stream ends inside a pair", fcgi.pairs({"A": "1"}) + b"\x05\x01AB",
             b"The request's variables are malformed."),
        ]
        w = self.worker(self.SHORT)
        for what, content, sentence in cases:
            with self.subTest(what):
                out, status = raw_request(w.address, content)
                self.assertTrue(out.startswith(b"Status: 400 Bad Request\r\n"), out[:80])
                self.assertIn(sentence, out)
                self.assertEqual(status, 0)
                self.assertIsNone(w.proc.poll())
                self.served(w)
        self.assertNoComplaints(w)

    def test_a_connection_kept_idle_keeps_no_one_waiting(self):
        w = self.worker(self.LONG, tcp=True)
        params = fcgi.cgi_params("GET", "/wsdl/IDRUX")
        with fcgi.connect(w.address) as kept, fcgi.connect(w.address) as other:
            kept.sendall(fcgi.request_bytes(params, keep=True))
            fcgi.read_answer(kept)
            other.sendall(fcgi.request_bytes(params, keep=True))
            fcgi.read_answer(other)
            # Both idle now; a third connection and each kept one in turn.
            self.served(w)
            for s in (other, kept, other):
                s.settimeout(self.CLIENT_WAIT)
                s.sendall(fcgi.request_bytes(params, keep=True))
                self.assertEqual(fcgi.read_answer(s)[0], run_cgi(self.work, params))

    def stall(self, w, how, up_port=None):
        """A connection that stalls as `how` says."""
        s = fcgi.connect(w.address)
        if how == "silent after connecting":
            pass
        elif how == "silent inside its variables":
            whole = fcgi.request_bytes(fcgi.cgi_params("GET", "/wsdl/IDRUX"))
            s.sendall(whole[:40])
        elif how == "not reading its answer":
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            body = soap_body("N40000")
            s.sendall(fcgi.request_bytes(soap_params(body), body))
            time.sleep(1)  # the answer is made and fills what the socket holds
        return s

    STALLS = ("silent after connecting", "silent inside its variables", "not reading its answer")

    def big_answer_config(self):
        up = relay.Upstream(self.work, "plain")
        self.addCleanup(up.close)
        return relay.config(auth=(relay.USER, relay.PASSWORD), protocol="http",
                            ipaddress="127.0.0.1:%d" % up.port, path=relay.PATH)

    def test_a_stalled_peer_is_abandoned_and_others_are_served(self):
        cfg = self.big_answer_config()
        for tcp in (False, True):
            for how in self.STALLS:
                with self.subTest(how, tcp=tcp):
                    # While a peer sends nothing the worker serves the others
                    # at once; a peer that takes nothing holds it up for the
                    # time limit at most.
                    timeout = self.SHORT if how == "not reading its answer" else self.LONG
                    w = self.worker(timeout, cfg, tcp)
                    with self.stall(w, how):
                        self.served(w)
                        self.served(w)
                    self.assertEqual(w.stop(), 0)
                    w = self.worker(self.SHORT, cfg, tcp)
                    w.soap("N3")  # its kept upstream connection is counted too
                    before = open_descriptors(w.proc.pid)
                    with self.stall(w, how):
                        # Abandoned (its connection closed) after the time limit.
                        self.assertTrue(within(self.SHORT + 10,
                                               lambda: open_descriptors(w.proc.pid) <= before))
                    self.assertEqual(w.stop(), 0)

    def test_sigterm_ends_the_worker_whatever_its_peers_do(self):
        cfg = self.big_answer_config()
        for how in self.STALLS:
            with self.subTest(how):
                w = self.worker(self.LONG, cfg, tcp=True)
                with self.stall(w, how):
                    w.proc.send_signal(signal.SIGTERM)
                    # Peers still sending get the stop's grace (10 s) at most.
                    self.assertEqual(w.proc.wait(10 + STOP_TIMEOUT), 0)

    def test_web_server_addresses_hold_on_every_listener(self):
        port = peers.free_port()
        cases = [
            # (how the worker listens, FCGI_WEB_SERVER_ADDRS, connect from, served)
            ("[::]:%d", "10.0.0.5", "127.0.0.1", False),
            ("[::]:%d", "10.0.0.5", "::1", False),
            ("[::]:%d", "127.0.0.1", "127.0.0.1", True),
            ("[::]:%d", "10.0.0.5, ::1", "::1", True),
            ("[::]:%d", "::1", "127.0.0.1", False),
            ("127.0.0.1:%d", "10.0.0.5", "127.0.0.1", False),
            ("127.0.0.1:%d", "127.0.0.1", "127.0.0.1", True),
            ("spawn-fcgi -a ::", "10.0.0.5", "127.0.0.1", False),
            ("spawn-fcgi -a ::", "127.0.0.1", "127.0.0.1", True),
        ]
        params = fcgi.cgi_params("GET", "/wsdl/IDRUX")
        wsdl = run_cgi(self.work, params)
        os.symlink(VEVUDE, os.path.join(self.work, "VEVUDE"))  # the script's service folder
        for listen, allowed, source, served in cases:
            with self.subTest(listen=listen, allowed=allowed, source=source):
                env = dict(relay.clean_env(), FCGI_WEB_SERVER_ADDRS=allowed)
                if listen.startswith("spawn-fcgi"):
                    env["PATH"] = "/usr/bin:/bin:" + env.get("PATH", "")
                    cmd = ["/bin/sh", os.path.join(web_servers.DEPLOY, "nginx/vevude-fastcgi.sh"),
                           str(port), self.work, "::"]
                else:
                    cmd = [VEVUDE, "--fastcgi", listen % port]
                proc = subprocess.Popen(cmd, cwd=self.work, env=env, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
                try:
                    wait_until(lambda: can_connect((source, port)), proc, "worker")
                    try:
                        got = fcgi.call((source, port), params)[0]
                    except (EOFError, ConnectionResetError):
                        got = None
                    self.assertEqual(got, wsdl if served else None)
                finally:
                    peers.stop(proc)

    def test_memory_returns_after_a_flood_of_variables(self):
        w = self.worker(self.SHORT)
        mix = [fcgi.cgi_params("GET", "/wsdl/IDRUX"), fcgi.cgi_params("GET", "/")]
        for i in range(100):
            w.call(mix[i % 2])
        baseline = rss_kb(w.proc.pid)
        floods = [
            # (what, the variables) about 64 MiB each
            ("67,000 small variables", {"V%05d" % i: "x" * 1000 for i in range(67000)}),
            ("32 large variables", {"L%02d" % i: "y" * (2 << 20) for i in range(32)}),
        ]
        for what, variables in floods:
            with self.subTest(what):
                params = dict(fcgi.cgi_params("GET", "/"), **variables)
                out = w.call(params)
                self.assertTrue(out.startswith(b"Status: 400 Bad Request\r\n"), out[:80])
                for i in range(20):
                    w.call(mix[i % 2])
                if not SANITIZED:
                    self.assertLessEqual(rss_kb(w.proc.pid), baseline + 4096, (what, baseline))


class KeptNginx(web_servers.NginxSpawnFcgi):
    """nginx keeping up to four connections to one worker, as a site tunes
    it (keepalive in the upstream block, fastcgi_keep_conn on)."""

    def launch(self):
        self.programlog = self.log_file("workers.log")
        self.worker_ports = [peers.free_port()]
        upstream = self.write("vevude-fastcgi-upstream.conf",
                              "upstream vevude {\n    server 127.0.0.1:%d;\n    keepalive 4;\n}\n"
                              % self.worker_ports[0])
        include = self.write("vevude-fastcgi.conf", self.example_text(
            **{"fastcgi_pass vevude;": "fastcgi_pass vevude;\n    fastcgi_keep_conn on;"}))
        env = dict(os.environ, **web_servers.sanitizer_env())
        env["PATH"] = "/usr/bin:/bin:" + env.get("PATH", "")
        kw = {}
        if os.getuid() == 0:
            uid, gid = web_servers.server_user()[1:]
            kw = {"user": uid, "group": gid, "extra_groups": []}
        with open(self.programlog, "ab") as log:
            proc = self.spawn(["/bin/sh", os.path.join(web_servers.DEPLOY, self.SCRIPT),
                               str(self.worker_ports[0]), self.folder.path], stderr=log, env=env,
                              **kw)
            peers.wait_until(lambda: peers.port_open(self.worker_ports[0]), proc)
        conf = web_servers.nginx_conf(self, include, upstream)
        binary = shutil.which("nginx") or "/usr/sbin/nginx"
        self.spawn([binary, "-p", self.work, "-c", conf, "-g", "daemon off;"])


def load(site, clients, requests, expected):
    """`clients` threads each sending `requests` SOAP calls through the web
    server over a connection of its own; the answers that were not the
    expected 200 (status, or a description of the failure)."""
    body = soap_body("MAD")
    headers = {"Content-Type": "text/xml", "SOAPAction": SOAPACTION}
    wrong = []
    lock = threading.Lock()

    def client():
        conn = None
        for _ in range(requests):
            try:
                conn = conn or http.client.HTTPConnection("127.0.0.1", site.port, timeout=30)
                conn.request("POST", "/VEVUDE/soap/IDRUX", body, headers)
                r = conn.getresponse()
                data = r.read()
                ok = r.status == 200 and data == expected
                got = r.status
            except (OSError, http.client.HTTPException) as e:
                ok, got = False, repr(e)
            if not ok:
                with lock:
                    wrong.append(got)
                if conn:
                    conn.close()
                conn = None
        if conn:
            conn.close()

    threads = [threading.Thread(target=client) for _ in range(clients)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(300)
    return wrong


class ServedCase(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="vevude-fcgi-%s-" % type(self).__name__.lower())
        os.chmod(self.work, 0o755)
        self.addCleanup(shutil.rmtree, self.work, True)
        # No upstream: every call answers the empty list at once.
        self.folder = web_servers.ServiceFolder(self.work, VEVUDE, "[WEBSERVICE]\n")

    def expected(self, site):
        status, _, data = site.request("POST", "/VEVUDE/soap/IDRUX", soap_body("MAD"),
                                       {"Content-Type": "text/xml", "SOAPAction": SOAPACTION})
        self.assertEqual(status, 200)
        self.assertEqual(records_of(b"\r\n\r\n" + data), [])
        return data


class KeepAlive(ServedCase):
    def test_every_client_is_served_over_kept_connections(self):
        site = KeptNginx(self.work, self.folder).start()
        self.addCleanup(site.close)
        expected = self.expected(site)
        self.assertEqual(load(site, 3, 20, expected), [])
        with open(site.errorlog) as log:
            self.assertNotIn("timed out", log.read())


class Restarts(ServedCase):
    """Each FastCGI example with its workers starting afresh every 25
    requests (lighttpd and nginx: VEVUDE_MAX_REQUESTS; Apache: mod_fcgid's
    own limit, as its example sets it): nothing is lost."""

    def site(self, row):
        cls = web_servers.configuration(row)
        work = os.path.join(self.work, row)
        os.makedirs(work)
        os.chmod(work, 0o755)
        site = cls(work, self.folder)
        if row == "lighttpd-fastcgi":
            text = site.example_text
            site.example_text = lambda **r: text(**r).replace(
                '"VEVUDE_MAX_REQUESTS" => "100000"', '"VEVUDE_MAX_REQUESTS" => "25"')
        elif row == "apache-fcgid":
            text = site.example_text
            site.example_text = lambda **r: text(**r).replace(
                "FcgidMaxRequestsPerProcess 100000", "FcgidMaxRequestsPerProcess 25")
        else:
            os.environ["VEVUDE_MAX_REQUESTS"] = "25"
            self.addCleanup(os.environ.pop, "VEVUDE_MAX_REQUESTS", None)
        return site

    def test_workers_starting_afresh_lose_no_request(self):
        for row in ("lighttpd-fastcgi", "nginx-fastcgi", "apache-fcgid"):
            with self.subTest(row):
                site = self.site(row).start()
                try:
                    expected = self.expected(site)
                    self.assertEqual(load(site, 2, 100, expected), [])
                finally:
                    site.close()
                    os.environ.pop("VEVUDE_MAX_REQUESTS", None)


class Slice(unittest.TestCase):
    """Each web server of the deployment examples (deploy/, started through
    web_servers.py) serves the same requests once through its CGI example
    and once through its FastCGI one, on the same port one after the
    other: the answers are the same bytes."""

    PAIRS = [("lighttpd", "cgi", "fastcgi"), ("apache", "cgi", "fcgid"),
             ("nginx", "cgi", "fastcgi")]

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="vevude-fcgi-slice-")
        os.chmod(cls.work, 0o755)
        cls.up = relay.Upstream(cls.work, "plain")
        cls.config = relay.config(auth=(relay.USER, relay.PASSWORD), protocol="http",
                                  ipaddress="127.0.0.1:%d" % cls.up.port, path=relay.PATH)

    @classmethod
    def tearDownClass(cls):
        cls.up.close()
        shutil.rmtree(cls.work, ignore_errors=True)

    def answers(self, row, port, requests):
        work = os.path.join(self.work, row)
        os.makedirs(work)
        os.chmod(work, 0o755)
        folder = web_servers.ServiceFolder(work, VEVUDE, self.config)
        site = web_servers.configuration(row)(work, folder)
        site.port = port
        site.start()
        try:
            got = [site.request(*r) for r in requests]
        finally:
            site.close()
        return got, site.errors()

    def test_cgi_and_fastcgi_answer_the_same_bytes(self):
        soap = {"Content-Type": "text/xml", "SOAPAction": SOAPACTION}
        requests = [
            ("POST", "/VEVUDE/soap/IDRUX", soap_body("N3"), soap),
            ("POST", "/VEVUDE/soap/IDRUX", soap_body("N1000"), soap),
            ("POST", "/VEVUDE/soap/IDRUX", soap_body("N3"), dict(soap, SOAPAction='"urn:no#such"')),
            ("POST", "/VEVUDE/soap/IDRUX", b"<not-soap/>", soap),
            # A worker that answered an unreadable request answers the next
            # call as any other (its converter was replaced, its Content-Type
            # must not change).
            ("POST", "/VEVUDE/soap/IDRUX", soap_body("N3"), soap),
            ("GET", "/VEVUDE/", None, {}),
            ("GET", "/VEVUDE/wsdl/IDRUX", None, {}),
            ("GET", "/VEVUDE/wsdl", None, {}),
        ]
        port = peers.free_port()
        for server, cgi_mode, fastcgi_mode in self.PAIRS:
            with self.subTest(server=server):
                cgi, _ = self.answers("%s-%s" % (server, cgi_mode), port, requests)
                fast, log = self.answers("%s-%s" % (server, fastcgi_mode), port, requests)
                self.assertEqual(cgi[0][:2], (200, "text/xml; charset=utf-8"))
                self.assertEqual(records_of(b"\r\n\r\n" + cgi[0][2]), relay.expected("N3"))
                for req, a, b in zip(requests, cgi, fast):
                    with self.subTest(request=req[:2], body=(req[2] or b"")[-60:]):
                        self.assertEqual(a, b)
                for word in ("Sanitizer", "runtime error"):
                    self.assertNotIn(word, log)


class ScaleOut(unittest.TestCase):
    """nginx spreads requests over two workers started by spawn-fcgi on two
    ports (the nginx FastCGI example of deploy/); one is killed under load
    and the other carries on."""

    CLIENTS = 6
    RUN_SECONDS = 6
    KILL_AFTER = 2
    MAX_REQUESTS = 20000  # a bound on the whole run

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="vevude-fcgi-scale-")
        os.chmod(self.work, 0o755)
        self.addCleanup(shutil.rmtree, self.work, True)
        # No upstream: every call answers the empty list at once.
        folder = web_servers.ServiceFolder(self.work, VEVUDE, "[WEBSERVICE]\n")
        self.site = web_servers.NginxSpawnFcgi(self.work, folder).start()
        self.addCleanup(self.site.close)

    def test_one_worker_killed_under_load_the_other_carries_on(self):
        workers = self.site.procs[:2]  # each the worker itself (the script execs it)
        web = self.site.port
        body = soap_body("MAD")
        headers = {"Content-Type": "text/xml", "SOAPAction": SOAPACTION}
        status, _, expected = self.site.request("POST", "/VEVUDE/soap/IDRUX", body, headers)
        self.assertEqual(status, 200)
        self.assertEqual(records_of(b"\r\n\r\n" + expected), [])

        results = []  # (start, ok)
        lock = threading.Lock()
        stop_at = time.time() + self.RUN_SECONDS

        def client():
            conn = None
            while time.time() < stop_at:
                with lock:
                    if len(results) >= self.MAX_REQUESTS:
                        break
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
                    results.append((t0, ok))
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
        failed = [t0 for t0, ok in results if not ok]
        after = [ok for t0, ok in results if t0 > killed_at + 0.5]
        # Only requests in flight on the killed worker may fail: at most one
        # per client, all started before the kill.
        self.assertLessEqual(len(failed), self.CLIENTS, failed)
        for t0 in failed:
            self.assertLess(t0, killed_at + 0.5)
        self.assertGreater(len(after), 20)
        self.assertTrue(all(after))
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
