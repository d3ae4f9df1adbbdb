#!/usr/bin/python3
"""The deployment examples of deploy/ end to end, one (server, mode) row of
web_servers.CONFIGURATIONS per run: the server is started once from the
shipped example, with the program and a config.ini that points at the
spyne upstream (which checks the credentials), and through it run a SOAP
call, a WSDL request, a service page request, requests for config.ini, and
a failing call whose diagnostic line must reach the server's error log.

  deploy_e2e.py --binary PATH ROW [unittest arguments]
  deploy_e2e.py --list          (the row names)
"""
import os
import sys
import time
import unittest
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import endpoint_e2e as e2e  # noqa: E402
import web_servers  # noqa: E402

BINARY = ROW = None
USER, PASSWORD = "relay-user", "s3cr\u00e9t-pw"
WSDL_NS = "http://schemas.xmlsoap.org/wsdl/"
WSDL_SOAP_NS = "http://schemas.xmlsoap.org/wsdl/soap/"
LOG_WAIT = 10  # seconds for a line to reach an error log


def soap_call(airport):
    return e2e.CALL.replace("MAD", airport).encode()


class DeployTest(web_servers.PeersTestCase):
    @classmethod
    def start_peers(cls):
        cls.upstream = cls.peer(e2e.Upstream(cls.work, (USER, PASSWORD)))
        folder = web_servers.ServiceFolder(cls.work, BINARY, cls.upstream.config())
        cls.site = cls.peer(web_servers.configuration(ROW)(cls.work, folder).start())

    def post(self, airport):
        return self.site.request("POST", "/VEVUDE/soap/IDRUX", soap_call(airport),
                                 {"Content-Type": "text/xml",
                                  "SOAPAction": '"urn:uDRUXIntf-IDRUX#GetFlightsOpSoap"'})

    def test_soap_call_answers_the_upstream_records(self):
        # config.ini was found in the working directory the server gave the
        # program, and its credentials satisfied the upstream.
        self.assertEqual(self.post("N3"), (200, "text/xml; charset=utf-8", e2e.THREE_RECORDS.encode()))

    def test_wsdl_port_address_names_this_server(self):
        status, ctype, body = self.site.request("GET", "/VEVUDE/wsdl/IDRUX")
        self.assertEqual((status, ctype), (200, "text/xml; charset=utf-8"))
        root = ET.fromstring(body)
        addresses = [a.get("location") for a in root.iter("{%s}address" % WSDL_SOAP_NS)]
        self.assertEqual(addresses, [self.site.url("/VEVUDE/soap/IDRUX")])

    def test_service_page(self):
        for path in ("/VEVUDE/", "/VEVUDE"):
            with self.subTest(path=path):
                status, ctype, body = self.site.request("GET", path)
                self.assertEqual((status, ctype), (200, "text/html; charset=utf-8"))
                self.assertIn(b"<title>VEVUDE</title>", body)
                self.assertIn(self.site.url("/VEVUDE/wsdl/IDRUX").encode(), body)

    def test_config_ini_is_never_served(self):
        # The service folder lies under the document root, so without the
        # example's rule the second and third would hand out the file.
        for path in ("/VEVUDE/config.ini", "/vevude/config.ini", "/vevude/Config.INI"):
            with self.subTest(path=path):
                status, _, body = self.site.request("GET", path)
                self.assertEqual(status, 403)
                self.assertNotIn(b"password", body)

    def test_relay_diagnostic_reaches_the_error_log(self):
        self.assertEqual(self.post("FAULT")[0], 200)  # the empty list, not a fault
        line = ("VEVUDE relay: ERemotableException: Upstream broke for FAULT "
                "(upstream http://127.0.0.1:%d%s)" % (self.upstream.port, self.upstream.path))
        expected = self.site.relay_log_line(line)
        deadline = time.time() + LOG_WAIT
        while expected not in self.site.errors() and time.time() < deadline:
            time.sleep(0.1)
        self.assertIn(expected, self.site.errors())
        self.assertNotIn(PASSWORD, self.site.errors())

    def test_zz_the_program_reported_nothing_else(self):
        # Runs last: a sanitizer report or a crash of the program shows here.
        for word in ("Sanitizer", "runtime error", "Segmentation"):
            self.assertNotIn(word, self.site.errors())


if __name__ == "__main__":
    if sys.argv[1:] == ["--list"]:
        print("\n".join("%s-%s" % (s, m) for s, m, _ in web_servers.CONFIGURATIONS))
        sys.exit(0)
    BINARY = web_servers.binary_argument(__doc__)
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    ROW = sys.argv.pop(1)
    unittest.main(verbosity=2)
