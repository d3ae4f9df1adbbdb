#!/usr/bin/python3
"""The relay end to end: a relay call against real peers on loopback.

The probe program runs one relay call (TDRUX.GetFlightsOpSoap) in a working
directory holding the config.ini under test and prints the records it got.
The peers are the spyne upstream of relay_upstream.py (plain and TLS), and
tinyproxy. Every server is started on a free loopback port and stopped at
the end; every run is bounded in time.

  relay_e2e.py --probe PATH [unittest arguments, e.g. a class name]
"""
import base64
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import relay_upstream  # noqa: E402  (the same answers the upstream serves)
from peers import free_port, stop, wait_for_file, wait_for_port  # noqa: E402

PROBE = None
VEVUDE = None  # the CGI program, for the tests through the whole service
NS = relay_upstream.NS
PATH = relay_upstream.SOAP_PATH.lstrip("/")
USER, PASSWORD = "relay-user", "s3cr\u00e9t-pw"
RUN_TIMEOUT = 60  # seconds for one probe run


def clean_env():
    env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower()}
    env["VEVUDE_UPSTREAM_NAMESPACE"] = NS
    return env


class Upstream:
    """One relay_upstream.py process (with further arguments, if given);
    its log of received requests."""

    def __init__(self, workdir, name, cert=None, key=None, args=()):
        self.port_file = os.path.join(workdir, name + ".port")
        self.log = os.path.join(workdir, name + ".log")
        cmd = [sys.executable, os.path.join(HERE, "relay_upstream.py"),
               "--port-file", self.port_file, "--log", self.log] + list(args)
        if cert:
            cmd += ["--cert", cert, "--key", key]
        self.proc = subprocess.Popen(cmd, env=clean_env())
        self.port = int(wait_for_file(self.port_file, self.proc))

    def requests(self):
        if not os.path.exists(self.log):
            return []
        with open(self.log) as f:
            return [json.loads(line) for line in f if line.strip()]

    def clear(self):
        if os.path.exists(self.log):
            os.remove(self.log)

    def close(self):
        stop(self.proc)


def config(auth=None, **ws):
    """config.ini text: AUTHENTICATION then WEBSERVICE, keys as given."""
    lines = []
    if auth is not None:
        lines += ["[AUTHENTICATION]", "username=%s" % auth[0], "password=%s" % auth[1]]
    lines.append("[WEBSERVICE]")
    lines += ["%s=%s" % (k, v) for k, v in ws.items()]
    return "\n".join(lines) + "\n"


def run_probe(cfg, airport):
    """Runs one relay call; gives (records, stderr lines). A record maps each
    property that was present to its text."""
    work = tempfile.mkdtemp(prefix="relay-e2e-")
    try:
        if cfg is not None:
            with open(os.path.join(work, "config.ini"), "w", encoding="utf-8") as f:
                f.write(cfg)
        p = subprocess.run([PROBE, airport.encode("utf-8").hex()], cwd=work, env=clean_env(),
                           capture_output=True, timeout=RUN_TIMEOUT)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if p.returncode != 0:
        raise AssertionError("probe failed (%d): %s" % (p.returncode, p.stderr.decode()))
    out = p.stdout.decode("utf-8").splitlines()
    assert out[0].startswith("COUNT "), out[:1]
    records = []
    for line in out[1:]:
        if line == "R":
            records.append({})
        elif line.startswith("P "):
            _, name, hexval = (line.split(" ") + [""])[:3]
            records[-1][name] = bytes.fromhex(hexval).decode("utf-8")
    assert len(records) == int(out[0].split()[1])
    return records, [l for l in p.stderr.decode("utf-8", "replace").splitlines() if l.strip()]


SOAP_ENV = "http://schemas.xmlsoap.org/soap/envelope/"
CGI_REQUEST = (
    '<?xml version="1.0"?><SOAP-ENV:Envelope xmlns:SOAP-ENV="%s" '
    'xmlns:xsd="http://www.w3.org/2001/XMLSchema" '
    'xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" '
    'xmlns:SOAP-ENC="http://schemas.xmlsoap.org/soap/encoding/" '
    'SOAP-ENV:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"><SOAP-ENV:Body>'
    '<NS1:GetFlightsOpSoap xmlns:NS1="urn:uDRUXIntf-IDRUX"><Airport xsi:type="xsd:string">%s'
    '</Airport></NS1:GetFlightsOpSoap></SOAP-ENV:Body></SOAP-ENV:Envelope>')


def run_cgi(cfg, airport):
    """One SOAP request to the CGI program; gives (status line, records or
    None for a fault, stderr lines)."""
    import xml.etree.ElementTree as ET
    from xml.sax.saxutils import escape
    body = (CGI_REQUEST % (SOAP_ENV, escape(airport))).encode("utf-8")
    work = tempfile.mkdtemp(prefix="relay-e2e-cgi-")
    env = clean_env()
    env.update({"REQUEST_METHOD": "POST", "PATH_INFO": "/soap/IDRUX", "SCRIPT_NAME": "/VEVUDE",
                "CONTENT_TYPE": "text/xml", "CONTENT_LENGTH": str(len(body)),
                "HTTP_SOAPACTION": '"urn:uDRUXIntf-IDRUX#GetFlightsOpSoap"',
                "SERVER_NAME": "127.0.0.1", "SERVER_PORT": "8080",
                "SERVER_PROTOCOL": "HTTP/1.1", "GATEWAY_INTERFACE": "CGI/1.1"})
    try:
        with open(os.path.join(work, "config.ini"), "w", encoding="utf-8") as f:
            f.write(cfg)
        p = subprocess.run([VEVUDE], cwd=work, env=env, input=body, capture_output=True,
                           timeout=RUN_TIMEOUT)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    head, _, xml = p.stdout.partition(b"\r\n\r\n")
    if not xml:
        head, _, xml = p.stdout.partition(b"\n\n")
    status = head.decode().splitlines()[0]
    err = [l for l in p.stderr.decode("utf-8", "replace").splitlines() if l.strip()]
    root = ET.fromstring(xml)
    body_el = root.find("{%s}Body" % SOAP_ENV)
    first = list(body_el)[0]
    if first.tag == "{%s}Fault" % SOAP_ENV:
        return status, None, err
    ids = {e.get("id"): e for e in body_el.iter() if e.get("id")}
    records = []
    for item in list(list(first)[0]):
        rec = ids[item.get("href")[1:]] if item.get("href") else item
        records.append({c.tag.split("}")[-1]: c.text or "" for c in rec})
    return status, records, err


def expected(airport):
    recs = []
    for r in relay_upstream.records(airport):
        recs.append({n: getattr(r, n) for n in relay_upstream.FIELDS if getattr(r, n) is not None})
    return recs


def base_url_cfg(port, path=PATH, protocol="http", **extra):
    return config(auth=(USER, PASSWORD), protocol=protocol, ipaddress="127.0.0.1:%d" % port,
                  path=path, **extra)


class RelayCase(unittest.TestCase):
    def assertFailure(self, records, err, *fragments):
        """An empty list, one line on standard error, no password in it."""
        self.assertEqual(records, [])
        self.assertEqual(len(err), 1, err)
        self.assertNotIn(PASSWORD, err[0])
        for f in fragments:
            self.assertIn(f, err[0])


class Records(RelayCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="relay-e2e-up-")
        cls.up = Upstream(cls.work, "plain")

    @classmethod
    def tearDownClass(cls):
        cls.up.close()
        shutil.rmtree(cls.work, ignore_errors=True)

    def test_records_round_trip_field_by_field(self):
        # 0, 3 (absent vs empty, non-ASCII, markup) and 1000 records, in order.
        for airport in ["N0", "N3", "N1000", "MAD"]:
            with self.subTest(airport=airport):
                records, err = run_probe(base_url_cfg(self.up.port), airport)
                self.assertEqual(err, [])
                self.assertEqual(records, expected(airport))

    def test_empty_airport_is_forwarded(self):
        self.up.clear()
        records, err = run_probe(base_url_cfg(self.up.port), "")
        self.assertEqual(records, expected(""))
        body = base64.b64decode(self.up.requests()[-1]["body"]).decode()
        self.assertRegex(body, r"<idarpt(></idarpt>|/>)")

    def test_one_request_leaves_with_exact_headers_and_body(self):
        self.up.clear()
        records, err = run_probe(base_url_cfg(self.up.port), "MAD")
        self.assertEqual(len(records), 1)
        reqs = self.up.requests()
        self.assertEqual(len(reqs), 1)  # one upstream call, no retry
        r = reqs[0]
        self.assertEqual(r["line"], "POST /%s HTTP/1.1" % PATH)
        transport = {"host", "content-length", "connection", "expect", "accept-encoding"}
        headers = [(k, v) for k, v in r["headers"] if k.lower() not in transport]
        basic = base64.b64encode(("%s:%s" % (USER, PASSWORD)).encode("utf-8")).decode()
        self.assertEqual(headers, [
            ("User-Agent", "Zentrova SOAP 1.4"),
            ("Content-Type", "text/xml; charset=utf-8"),
            ("SOAPAction", NS + "GetFlightsOp"),
            ("Accept", "*/*"),
            ("Authorization", "Basic " + basic),
        ])
        body = base64.b64decode(r["body"]).decode("utf-8")
        head = '<?xml version="1.0"?>'
        self.assertTrue(body.startswith(head), body)
        self.assertEqual(
            body[len(head):].strip(),
            '<SOAP-ENV:Envelope xmlns:SOAP-ENV="http://schemas.xmlsoap.org/soap/envelope/" '
            'xmlns:xsd="http://www.w3.org/2001/XMLSchema" '
            'xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance"><SOAP-ENV:Body>'
            '<GetFlightsOp xmlns="%s"><idarpt>MAD</idarpt></GetFlightsOp></SOAP-ENV:Body>'
            '</SOAP-ENV:Envelope>' % NS)

    def test_no_credentials_no_authorization(self):
        self.up.clear()
        cfg = config(protocol="http", ipaddress="127.0.0.1:%d" % self.up.port, path=PATH)
        records, err = run_probe(cfg, "MAD")
        self.assertEqual(len(records), 1)
        names = [k.lower() for k, _ in self.up.requests()[0]["headers"]]
        self.assertNotIn("authorization", names)

    def test_redirect_is_followed_as_post(self):
        self.up.clear()
        records, err = run_probe(base_url_cfg(self.up.port, path="redirect"), "N3")
        self.assertEqual(records, expected("N3"))
        reqs = self.up.requests()
        self.assertEqual([r["line"] for r in reqs],
                         ["POST /redirect HTTP/1.1", "POST /%s HTTP/1.1" % PATH])
        self.assertEqual(reqs[0]["body"], reqs[1]["body"])

    def test_failures_give_empty_list_and_one_log_line(self):
        closed = free_port()
        p = self.up.port
        cases = [
            # name, config.ini (None: missing), fragments of the log line
            ("missing config.ini", None, []),
            ("unreachable host", base_url_cfg(closed), ["127.0.0.1:%d" % closed]),
            ("404", base_url_cfg(p, "fail/404"),
             ["ESOAPHTTPException", "Not Found (404) - 'http://127.0.0.1:%d/fail/404'" % p]),
            ("500 with fault", base_url_cfg(p, "fail/500fault"),
             ["ERemotableException", "Upstream broke"]),
            ("500 empty", base_url_cfg(p, "fail/500empty"),
             ["ESOAPHTTPException", "Invalid HTTP Response: Length is 0"]),
            ("text/html", base_url_cfg(p, "fail/html"),
             ["ESOAPHTTPException",
              'Received content of invalid Content-Type setting: text/html - SOAP expects "text/xml"']),
            ("malformed XML", base_url_cfg(p, "fail/malformed"), ["EDOMParseError"]),
            ("mustUnderstand", base_url_cfg(p, "fail/mustunderstand"), ["ERemotableException"]),
            ("proxy without scheme", base_url_cfg(p, proxyip="127.0.0.1", proxyport="3128"),
             ["ENetURIException", 'Invalid URL: "127.0.0.1:3128"']),
        ]
        for name, cfg, fragments in cases:
            with self.subTest(name):
                self.up.clear()
                records, err = run_probe(cfg, "N3")
                self.assertFailure(records, err, *fragments)
                if name == "proxy without scheme":
                    self.assertEqual(self.up.requests(), [])  # nothing was sent

    def test_through_the_cgi_program(self):
        # The whole service: an rpc/encoded request in, the records out, and
        # a failure answered as a normal empty response, not a fault.
        if not VEVUDE:
            self.skipTest("no CGI program given")
        for airport in ["N3", "N0"]:
            with self.subTest(airport=airport):
                status, records, err = run_cgi(base_url_cfg(self.up.port), airport)
                self.assertEqual(status, "Status: 200 OK")
                self.assertEqual(records, expected(airport))
                self.assertEqual(err, [])
        status, records, err = run_cgi(base_url_cfg(free_port()), "N3")
        self.assertEqual(status, "Status: 200 OK")
        self.assertEqual(records, [])
        self.assertEqual(len(err), 1, err)
        self.assertNotIn(PASSWORD, err[0])

    def test_401_twice_gives_two_posts_then_empty(self):
        self.up.clear()
        records, err = run_probe(base_url_cfg(self.up.port, "auth401"), "N3")
        self.assertFailure(records, err, "ESOAPHTTPException", "(401)")
        reqs = self.up.requests()
        self.assertEqual(len(reqs), 2)
        for r in reqs:
            self.assertIn("Authorization", [k for k, _ in r["headers"]])


def make_certificate(work):
    """A self-signed server certificate for 127.0.0.1; it is its own CA."""
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                    "-keyout", "srv.key", "-out", "srv.pem", "-days", "2",
                    "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"],
                   cwd=work, check=True, capture_output=True, timeout=60)
    return os.path.join(work, "srv.pem"), os.path.join(work, "srv.key")


class Tls(RelayCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="relay-e2e-tls-")
        cert, key = make_certificate(cls.work)
        cls.ca = cert
        cls.up = Upstream(cls.work, "tls", cert, key)

    @classmethod
    def tearDownClass(cls):
        cls.up.close()
        shutil.rmtree(cls.work, ignore_errors=True)

    def test_untrusted_certificate_refused_by_default(self):
        for extra in [{}, {"ignoreinvalidcerts": "0"}]:
            with self.subTest(extra=extra):
                self.up.clear()
                records, err = run_probe(base_url_cfg(self.up.port, protocol="https", **extra), "N3")
                self.assertFailure(records, err, "https://127.0.0.1:%d/" % self.up.port)
                # The password never left: no request reached the upstream.
                self.assertEqual(self.up.requests(), [])

    def test_accepted_with_ignoreinvalidcerts_or_cafile(self):
        for extra in [{"ignoreinvalidcerts": "1"}, {"cafile": self.ca}]:
            with self.subTest(extra=list(extra)):
                records, err = run_probe(base_url_cfg(self.up.port, protocol="https", **extra), "N3")
                self.assertEqual(err, [])
                self.assertEqual(records, expected("N3"))


class Proxy(RelayCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="relay-e2e-proxy-")
        cls.up = Upstream(cls.work, "plain")
        cls.proxy_port = free_port()
        conf = os.path.join(cls.work, "tinyproxy.conf")
        with open(conf, "w") as f:
            f.write("Port %d\nListen 127.0.0.1\nTimeout 30\nAllow 127.0.0.1\nMaxClients 10\n"
                    "LogLevel Error\nPidFile \"%s/tinyproxy.pid\"\nBasicAuth %s %s\n"
                    % (cls.proxy_port, cls.work, "proxyuser", "proxypw"))
        binary = shutil.which("tinyproxy") or "/usr/bin/tinyproxy"
        cls.proxy = subprocess.Popen([binary, "-d", "-c", conf], stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        wait_for_port(cls.proxy_port, cls.proxy)

    @classmethod
    def tearDownClass(cls):
        stop(cls.proxy)
        cls.up.close()
        shutil.rmtree(cls.work, ignore_errors=True)

    def cfg(self, user, password):
        return config(auth=(user, password), protocol="http",
                      ipaddress="127.0.0.1:%d" % self.up.port, path=PATH,
                      proxyip="http://127.0.0.1", proxyport=str(self.proxy_port))

    def test_through_tinyproxy_with_proxy_credentials(self):
        self.up.clear()
        records, err = run_probe(self.cfg("proxyuser", "proxypw"), "N3")
        self.assertEqual(err, [])
        self.assertEqual(records, expected("N3"))
        reqs = self.up.requests()
        self.assertEqual(len(reqs), 1)
        # The credentials served the proxy only: no server Authorization.
        self.assertNotIn("authorization", [k.lower() for k, _ in reqs[0]["headers"]])

    def test_proxy_refusing_credentials_gives_empty_list(self):
        self.up.clear()
        records, err = run_probe(self.cfg("proxyuser", "wrong-" + PASSWORD), "N3")
        self.assertFailure(records, err)
        self.assertEqual(self.up.requests(), [])


if __name__ == "__main__":
    args = sys.argv[1:]
    PROBE = os.path.abspath(args[args.index("--probe") + 1])
    del args[args.index("--probe"):args.index("--probe") + 2]
    if "--vevude" in args:
        VEVUDE = os.path.abspath(args[args.index("--vevude") + 1])
        del args[args.index("--vevude"):args.index("--vevude") + 2]
    unittest.main(argv=[sys.argv[0], "-v"] + args)
