#!/usr/bin/python3
"""The SOAP endpoint end to end: real SOAP clients (zeep, suds and a raw HTTP
client) call the executable through lighttpd as a CGI program.

Two copies of the program are served: one in a directory without config.ini
(every call answers the empty list) and one beside a config.ini that points
at the spyne upstream of relay_upstream.py. lighttpd and the upstream run on
free loopback ports, are stopped at the end, and every step is bounded in
time.

  endpoint_e2e.py --binary PATH [unittest arguments]
"""
import http.client
import logging
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from peers import free_port, port_open, stop, wait_until  # noqa: E402
BINARY = None
NS = os.environ.get("VEVUDE_UPSTREAM_NAMESPACE", "https://www.ostrel.example/webservices/")
ENV_NS = "http://schemas.xmlsoap.org/soap/envelope/"
ENC_NS = "http://schemas.xmlsoap.org/soap/encoding/"
# The clients read the encoding schema from here, never from its home.
ENC_SCHEMA = os.path.join(HERE, "endpoint_soapenc.xsd")
HTTP_TIMEOUT = 60  # seconds for one request
LIGHTTPD = shutil.which("lighttpd") or "/usr/sbin/lighttpd"


def http_request(port, method, path, body=None, headers=None):
    """(status, content type, body) of one request to a loopback port."""
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=HTTP_TIMEOUT)
    try:
        conn.request(method, path, body=body, headers=headers or {})
        r = conn.getresponse()
        return r.status, r.getheader("Content-Type"), r.read()
    finally:
        conn.close()


def envelope(body):
    return ('<?xml version="1.0"?><SOAP-ENV:Envelope xmlns:SOAP-ENV="%s"><SOAP-ENV:Body>%s'
            "</SOAP-ENV:Body></SOAP-ENV:Envelope>" % (ENV_NS, body))


CALL = envelope('<NS1:GetFlightsOpSoap xmlns:NS1="urn:uDRUXIntf-IDRUX">'
                "<Airport>MAD</Airport></NS1:GetFlightsOpSoap>")

DECLS = ('xmlns:SOAP-ENV="%s" xmlns:xsd="http://www.w3.org/2001/XMLSchema" '
         'xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" '
         'xmlns:SOAP-ENC="http://schemas.xmlsoap.org/soap/encoding/"' % ENV_NS)

EMPTY_ANSWER = (
    '<?xml version="1.0"?>\r\n<SOAP-ENV:Envelope %s><SOAP-ENV:Body '
    'SOAP-ENV:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/" '
    'xmlns:NS1="urn:uDRUXIntf-IDRUX" xmlns:NS2="%s"><NS1:GetFlightsOpSoapResponse>'
    '<return xsi:type="SOAP-ENC:Array" SOAP-ENC:arrayType="NS2:FlightOp[0]"/>'
    "</NS1:GetFlightsOpSoapResponse></SOAP-ENV:Body></SOAP-ENV:Envelope>" % (DECLS, NS))



def typed(name, text):
    return ('<%s xsi:type="xsd:string"/>' % name if text == "" else
            '<%s xsi:type="xsd:string">%s</%s>' % (name, text, name))


# The answer for the upstream's three records of "N3": each written once,
# referenced from the array, with exactly the properties the upstream sent.
THREE_RECORDS = (
    '<?xml version="1.0"?>\r\n<SOAP-ENV:Envelope %s><SOAP-ENV:Body '
    'SOAP-ENV:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/" '
    'xmlns:NS1="urn:uDRUXIntf-IDRUX" xmlns:NS2="%s"><NS1:GetFlightsOpSoapResponse>'
    '<return xsi:type="SOAP-ENC:Array" SOAP-ENC:arrayType="NS2:FlightOp[3]">'
    '<item href="#1"/><item href="#2"/><item href="#3"/></return>'
    "</NS1:GetFlightsOpSoapResponse>"
    '<NS2:FlightOp id="1" xsi:type="NS2:FlightOp">%s</NS2:FlightOp>'
    '<NS2:FlightOp id="2" xsi:type="NS2:FlightOp">%s</NS2:FlightOp>'
    '<NS2:FlightOp id="3" xsi:type="NS2:FlightOp"/>'
    "</SOAP-ENV:Body></SOAP-ENV:Envelope>" % (
        DECLS, NS,
        "".join(typed(n, t) for n, t in (
            ("Airline", "IB"), ("Id_Airline", "1"), ("Flight", "IB3170"), ("MovTp", "D"),
            ("Destino", "CDG"),
            ("DestDesc", "Par\u00eds &lt;Charles de Gaulle&gt; &amp; \"Orly\""),
            ("Stda", "2026-12-10T08:00:00"), ("Pax", "183"))),
        typed("Airline", "") + typed("Flight", "UX1001") + typed("Via", "")))


def fixed_fault(escaped):
    return ("<?xml version=\"1.0\" encoding='UTF-8'?> <SOAP-ENV:Envelope xmlns:SOAP-ENV=\"%s\" >"
            "<SOAP-ENV:Body> <SOAP-ENV:Fault> <faultcode>SOAP-ENV:Server</faultcode><faultstring>"
            "%s</faultstring></SOAP-ENV:Fault></SOAP-ENV:Body></SOAP-ENV:Envelope>"
            % (ENV_NS, escaped))


class Site:
    """lighttpd serving the program as /none/VEVUDE (no config.ini) and
    /relay/VEVUDE (beside the config.ini given)."""

    def __init__(self, work, relay_config):
        self.port = free_port()
        www = os.path.join(work, "www")
        for sub in ("none", "relay"):
            os.makedirs(os.path.join(www, sub))
            os.symlink(BINARY, os.path.join(www, sub, "VEVUDE"))
        with open(os.path.join(www, "relay", "config.ini"), "w", encoding="utf-8") as f:
            f.write(relay_config)
        self.errorlog = os.path.join(work, "error.log")
        conf = os.path.join(work, "lighttpd.conf")
        with open(conf, "w") as f:
            f.write('server.document-root = "%s"\n' % www)
            f.write('server.bind = "127.0.0.1"\nserver.port = %d\n' % self.port)
            f.write('server.modules = ("mod_cgi")\n')
            f.write('cgi.assign = ("/VEVUDE" => "")\n')
            # The program's standard error lands here.
            f.write('server.errorlog = "%s"\n' % self.errorlog)
            # The sanitizer settings of the test run reach the program too.
            if os.environ.get("ASAN_OPTIONS"):
                f.write('server.modules += ("mod_setenv")\n')
                f.write('setenv.add-environment = ("ASAN_OPTIONS" => "%s")\n'
                        % os.environ["ASAN_OPTIONS"])
        self.proc = subprocess.Popen([LIGHTTPD, "-D", "-f", conf],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_until(lambda: port_open(self.port), self.proc)

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def request(self, method, path, body=None, headers=None):
        return http_request(self.port, method, path, body, headers)

    def errors(self):
        with open(self.errorlog, encoding="utf-8", errors="replace") as f:
            return f.read()

    def close(self):
        stop(self.proc)


class Upstream:
    """The spyne upstream of the relay tests on a free loopback port; with
    credentials (user, password) it answers only requests carrying them."""

    def __init__(self, work, credentials=None):
        import relay_upstream  # noqa: E402  (beside this file)
        self.path = relay_upstream.SOAP_PATH
        self.credentials = credentials
        port_file = os.path.join(work, "upstream.port")
        env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower()}
        env["VEVUDE_UPSTREAM_NAMESPACE"] = NS
        cmd = [sys.executable, os.path.join(HERE, "relay_upstream.py"), "--port-file", port_file,
               "--log", os.path.join(work, "upstream.log")]
        if credentials:
            cmd += ["--user", credentials[0], "--password", credentials[1]]
        self.proc = subprocess.Popen(cmd, env=env, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)

        def read_port():
            if os.path.exists(port_file):
                with open(port_file) as f:
                    return f.read().strip()
            return None
        self.port = int(wait_until(read_port, self.proc))

    def config(self):
        auth = ""
        if self.credentials:
            auth = "[AUTHENTICATION]\nusername=%s\npassword=%s\n" % self.credentials
        return ("%s[WEBSERVICE]\nprotocol=http\nipaddress=127.0.0.1:%d\npath=%s\n"
                % (auth, self.port, self.path.lstrip("/")))

    def close(self):
        stop(self.proc)


def zeep_client(url):
    import zeep
    import zeep.transports

    class LocalSchemas(zeep.transports.Transport):
        def load(self, location):
            if location.rstrip("/") == ENC_NS.rstrip("/"):
                with open(ENC_SCHEMA, "rb") as f:
                    return f.read()
            if not location.startswith("http://127.0.0.1:"):
                raise RuntimeError("refusing to fetch " + location)
            return super().load(location)

    # zeep's default settings (strict): the schema must match every answer.
    return zeep.Client(url, transport=LocalSchemas(timeout=HTTP_TIMEOUT))


def suds_client(url):
    import suds.client
    from suds.xsd.doctor import Import, ImportDoctor
    logging.getLogger("suds").setLevel(logging.CRITICAL)
    doctor = ImportDoctor(Import(ENC_NS, location="file://" + ENC_SCHEMA))
    return suds.client.Client(url, cache=None, timeout=HTTP_TIMEOUT, doctor=doctor)


class EndpointTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="vevude-endpoint-")
        cls.upstream = cls.site = None
        try:
            cls.upstream = Upstream(cls.work)
            cls.site = Site(cls.work, cls.upstream.config())
        except Exception:
            cls.tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        for peer in (cls.site, cls.upstream):
            if peer:
                peer.close()
        shutil.rmtree(cls.work, ignore_errors=True)

    def test_raw_post_answers_exact_bytes(self):
        cases = [
            # (path, SOAPAction or None, status, body)
            ("/none/VEVUDE/soap/IDRUX", None, 200, EMPTY_ANSWER),
            ("/none/VEVUDE/soap", '"urn:uDRUXIntf-IDRUX#GetFlightsOpSoap"', 200, EMPTY_ANSWER),
            ("/none/VEVUDE/soap/IDRUX", '""', 200, EMPTY_ANSWER),
            ("/none/VEVUDE/soap", None, 500,
             fixed_fault("No interface  registered for URL '/soap'")),
            ("/none/VEVUDE/soap", "urn:a&b", 500,
             fixed_fault("No interface  registered for soap action 'urn:a&amp;b'")),
            ("/none/VEVUDE/soap", NS + "GetFlightsOp", 500,
             fixed_fault("No invokable class registered that implements interface "
                         "uOstrel.FlightsOpSoap of (soap action/path) " + NS + "GetFlightsOp")),
        ]
        for path, action, status, body in cases:
            with self.subTest(path=path, action=action):
                headers = {"Content-Type": "text/xml"}
                if action is not None:
                    headers["SOAPAction"] = action
                got = self.site.request("POST", path, CALL.encode(), headers)
                self.assertEqual(got, (status, "text/xml; charset=utf-8", body.encode()))

    def test_records_are_written_once_each_by_reference(self):
        body = CALL.replace("MAD", "N3").encode()
        status, ctype, got = self.site.request("POST", "/relay/VEVUDE/soap/IDRUX", body,
                                               {"Content-Type": "text/xml"})
        self.assertEqual((status, ctype), (200, "text/xml; charset=utf-8"))
        self.assertEqual(got.decode("utf-8"), THREE_RECORDS)

    def test_get_on_the_endpoint_path_is_the_service_page(self):
        status, ctype, body = self.site.request("GET", "/none/VEVUDE/soap/IDRUX")
        self.assertEqual((status, ctype), (200, "text/html; charset=utf-8"))
        self.assertNotIn(b"SOAP-ENV", body)

    def test_zeep_calls_through_the_published_wsdl(self):
        for site, expected in (("none", []), ("relay", [("ECHO", "MAD")])):
            with self.subTest(site=site):
                client = zeep_client(self.site.url("/%s/VEVUDE/wsdl/IDRUX" % site))
                result = client.service.GetFlightsOpSoap("MAD") or []
                self.assertEqual([(r.Airline, r.Origen) for r in result], expected)

    def test_records_arrive_in_order_with_exactly_the_fields_sent(self):
        # The upstream answers three records: a full one with markup in a
        # value, one with empty values, one with nothing at all.
        fields = ("Airline", "Flight", "DestDesc", "Via", "Pax")
        expected = [
            ("IB", "IB3170", 'Par\u00eds <Charles de Gaulle> & "Orly"', None, "183"),
            ("", "UX1001", None, "", None),
            (None, None, None, None, None),
        ]
        for name, client in (("zeep", zeep_client), ("suds", suds_client)):
            with self.subTest(client=name):
                c = client(self.site.url("/relay/VEVUDE/wsdl/IDRUX"))
                result = c.service.GetFlightsOpSoap("N3") or []
                got = [tuple(getattr(r, f, None) for f in fields) for r in result]
                # Both clients read an empty element as None; the raw test
                # below tells empty from absent.
                self.assertEqual(got, [tuple(v or None for v in x) for x in expected])

    def test_suds_calls_through_the_published_wsdl(self):
        for site, expected in (("none", []), ("relay", [("ECHO", "MAD")])):
            with self.subTest(site=site):
                client = suds_client(self.site.url("/%s/VEVUDE/wsdl/IDRUX" % site))
                result = client.service.GetFlightsOpSoap("MAD") or []
                self.assertEqual([(r.Airline, r.Origen) for r in result], expected)

    def test_zz_the_program_reported_nothing_on_standard_error(self):
        # Runs last: a sanitizer report or any other complaint of the
        # program during the calls above shows here.
        for word in ("Sanitizer", "ERROR", "runtime error"):
            self.assertNotIn(word, self.site.errors())


if __name__ == "__main__":
    args = sys.argv[1:]
    if len(args) >= 2 and args[0] == "--binary":
        BINARY = os.path.abspath(args[1])
        args = args[2:]
    if not BINARY:
        sys.exit("usage: endpoint_e2e.py --binary PATH [unittest arguments]")
    sys.path.insert(0, HERE)
    unittest.main(argv=[sys.argv[0]] + args, verbosity=2)
