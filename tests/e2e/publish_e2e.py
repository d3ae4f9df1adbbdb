#!/usr/bin/python3
"""The service descriptions end to end: real SOAP clients (zeep and suds)
read the WSDL the program publishes through lighttpd, and call through it.

It reuses the site, upstream and client set-up of the endpoint's end-to-end
test (endpoint_e2e.py, beside this file): lighttpd on a free loopback port
serving the program as a CGI program, and the spyne upstream. Everything is
started and stopped here, each step bounded in time.

  publish_e2e.py --binary PATH [unittest arguments]
"""
import os
import shutil
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import endpoint_e2e as e2e  # noqa: E402

NS = e2e.NS
TYPES_NS = "https://www.vevude.example/soap/types"
WSIL_NS = "http://schemas.xmlsoap.org/ws/2001/10/inspection/"
WSDL_NS = "http://schemas.xmlsoap.org/wsdl/"


class PublishE2E(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="vv_publish_e2e_")
        cls.upstream = cls.site = None
        try:
            cls.upstream = e2e.Upstream(cls.work)
            cls.site = e2e.Site(cls.work, cls.upstream.config())
            # A copy (not a link: the port file lies beside the program's own
            # file) whose port file sends clients to the relaying copy.
            ports = os.path.join(cls.work, "www", "ports")
            os.makedirs(ports)
            shutil.copy(e2e.BINARY, os.path.join(ports, "VEVUDE"))
            with open(os.path.join(ports, "VEVUDE_WSDLADMIN.INI"), "w") as f:
                f.write("[IDRUX]\nRelayPort=%s\n" % cls.site.url("/relay/VEVUDE/soap/IDRUX"))
        except Exception:
            cls.tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        for server in (cls.site, cls.upstream):
            if server:
                server.close()
        shutil.rmtree(cls.work, ignore_errors=True)

    def publisher_clients(self):
        url = self.site.url("/relay/VEVUDE/wsdl/IWSDLPublish")
        return {"zeep": e2e.zeep_client(url).service, "suds": e2e.suds_client(url).service}

    def test_clients_call_the_publisher_through_its_own_wsdl(self):
        for name, service in self.publisher_clients().items():
            with self.subTest(client=name):
                types = list(service.GetPortTypeList())
                self.assertEqual(types, ["IWSDLPublish", "FlightsOpSoap", "IDRUX"])
                wsdl = ET.fromstring(service.GetWSDLForPortType("IDRUX").encode())
                self.assertEqual(wsdl.tag, "{%s}definitions" % WSDL_NS)
                self.assertEqual(wsdl.get("name"), "IDRUXservice")
                self.assertIn(service.GetWSDLForPortType("NoSuchPort"), (None, ""))
                self.assertIn(NS, list(service.GetTypeSystemsList()))
                xsd = service.GetXSDForTypeSystem(NS)
                self.assertIn('<xs:complexType name="FlightOp">', xsd)

    def test_ports_of_the_port_file_lead_clients_to_the_relay(self):
        url = self.site.url("/ports/VEVUDE/wsdl/IDRUX")
        zeep = e2e.zeep_client(url)
        ports = [p for s in zeep.wsdl.services.values() for p in s.ports]
        self.assertEqual(ports, ["RelayPort"])
        # Strict zeep reads records with absent fields: the schema declares
        # them optional.
        records = zeep.service.GetFlightsOpSoap("N3")
        self.assertEqual([r.Flight for r in records], ["IB3170", "UX1001", None])
        suds = e2e.suds_client(url)
        records = suds.service.GetFlightsOpSoap("N2")
        self.assertEqual([r.Flight for r in records], ["F00000", "F00001"])

    def test_inspection_document_leads_to_loadable_descriptions(self):
        status, ctype, body = self.site.request("GET", "/relay/VEVUDE/Inspection.WSIL")
        self.assertEqual((status, ctype), (200, "text/xml; charset=utf-8"))
        root = ET.fromstring(body)
        self.assertEqual(root.tag, "{%s}inspection" % WSIL_NS)
        services = root.findall("{%s}service" % WSIL_NS)
        names = [s.findtext("{%s}name" % WSIL_NS) for s in services]
        self.assertEqual(names, ["IDRUX", "IWSDLPublish"])
        for s in services:
            location = s.find("{%s}description" % WSIL_NS).get("location")
            self.assertTrue(location.startswith(self.site.url("/relay/VEVUDE/wsdl/")), location)
            client = e2e.zeep_client(location)
            self.assertTrue(client.wsdl.services)

    def test_listing_page_through_the_web_server(self):
        status, ctype, body = self.site.request("GET", "/relay/VEVUDE/wsdl")
        self.assertEqual((status, ctype), (200, "text/html; charset=utf-8"))
        link = '<a href="%s/IDRUX">IDRUX</a>' % self.site.url("/relay/VEVUDE/wsdl")
        self.assertIn(link.encode(), body)


def main():
    args = sys.argv[1:]
    if len(args) < 2 or args[0] != "--binary":
        sys.exit(__doc__)
    e2e.BINARY = os.path.abspath(args[1])
    unittest.main(argv=[sys.argv[0]] + args[2:], verbosity=2)


if __name__ == "__main__":
    main()
