#!/usr/bin/python3
"""A document/literal flight-operations upstream for the relay's tests.

Serves GetFlightsOp (spyne, SOAP 1.1) on a free loopback port and records
every request it receives, raw header lines in arrival order and the body,
as one JSON line per request in the log file. A few fixed paths answer the
ways an upstream can fail instead.

  relay_upstream.py --port-file F --log L [--cert C --key K]
"""
import argparse
import base64
import io
import json
import os
import socket
import ssl
import sys
from wsgiref.simple_server import WSGIRequestHandler, WSGIServer

from spyne import Application, Array, ComplexModel, ServiceBase, Unicode, rpc
from spyne.protocol.soap import Soap11
from spyne.server.wsgi import WsgiApplication

NS = os.environ.get("VEVUDE_UPSTREAM_NAMESPACE", "https://www.ostrel.example/webservices/")
SOAP_PATH = "/svc/FlightsOp.asmx"
FIELDS = ["Airline", "Id_Airline", "Flight", "MovTp", "Destino", "DestDesc", "Origen",
          "OrigDesc", "Stda", "Atda", "Via", "Pax"]


def opt():
    return Unicode(min_occurs=0, nillable=False)


class FlightOp(ComplexModel):
    __namespace__ = NS
    _type_info = [(name, opt()) for name in FIELDS]


def records(airport):
    """The answer for an airport: a few fixed shapes the tests know."""
    if airport == "N3":
        return [
            FlightOp(Airline="IB", Id_Airline="1", Flight="IB3170", MovTp="D", Destino="CDG",
                     DestDesc="Par\u00eds <Charles de Gaulle> & \"Orly\"", Stda="2026-12-10T08:00:00",
                     Pax="183"),
            FlightOp(Airline="", Flight="UX1001", Via=""),  # present but empty
            FlightOp(),  # nothing sent at all
        ]
    if airport.startswith("N") and airport[1:].isdigit():
        return [FlightOp(Flight="F%05d" % i, Pax=str(i)) for i in range(int(airport[1:]))]
    if airport == "":
        return [FlightOp(Airline="EMPTY-AIRPORT")]
    return [FlightOp(Airline="ECHO", Origen=airport)]


class FlightsOp(ServiceBase):
    @rpc(Unicode, _returns=Array(FlightOp, type_name="ArrayOfFlightOp"))
    def GetFlightsOp(ctx, idarpt):
        return records(idarpt if idarpt is not None else "")


APP = WsgiApplication(Application([FlightsOp], tns=NS, name="FlightsOp",
                                  in_protocol=Soap11(validator="lxml"), out_protocol=Soap11()))

FAULT = ('<?xml version="1.0" encoding="utf-8"?><soap:Envelope '
         'xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/"><soap:Body><soap:Fault>'
         '<faultcode>soap:Server</faultcode><faultstring>Upstream broke</faultstring>'
         '</soap:Fault></soap:Body></soap:Envelope>')
MUST_UNDERSTAND = ('<?xml version="1.0"?><soap:Envelope '
                   'xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/"><soap:Header>'
                   '<Auth xmlns="urn:x" mustUnderstand="1"/></soap:Header><soap:Body>'
                   '<GetFlightsOpResponse xmlns="%s"><GetFlightsOpResult><FlightOp><Airline>X'
                   '</Airline></FlightOp></GetFlightsOpResult></GetFlightsOpResponse></soap:Body>'
                   '</soap:Envelope>' % NS)

# path: (status line, headers, body)
CANNED = {
    "/fail/404": ("404 Not Found", [("Content-Type", "text/html")], "<h1>no</h1>"),
    "/fail/500fault": ("500 Internal Server Error", [("Content-Type", "text/xml; charset=utf-8")],
                       FAULT),
    "/fail/500empty": ("500 Internal Server Error", [("Content-Type", "text/xml")], ""),
    "/fail/html": ("200 OK", [("Content-Type", "text/html")], "<html>login</html>"),
    "/fail/malformed": ("200 OK", [("Content-Type", "text/xml")], "<soap:Envelope><unclosed>"),
    "/fail/mustunderstand": ("200 OK", [("Content-Type", "text/xml")], MUST_UNDERSTAND),
    "/redirect": ("302 Found", [("Location", SOAP_PATH), ("Content-Type", "text/plain")], "moved"),
    # A cookie on the way to the service: the client sends it back when it
    # follows the redirect, within the same call only.
    "/setcookie": ("302 Found", [("Location", SOAP_PATH), ("Set-Cookie", "visit=first; Path=/"),
                                 ("Content-Type", "text/plain")], "moved"),
    "/auth401": ("401 Unauthorized", [("WWW-Authenticate", 'Basic realm="flights"'),
                                      ("Content-Type", "text/plain")], "who?"),
}


class Recorder:
    """WSGI middleware that appends each request to the log."""

    def __init__(self, app, log):
        self.app, self.log = app, log

    def __call__(self, environ, start_response):
        length = int(environ.get("CONTENT_LENGTH") or 0)
        body = environ["wsgi.input"].read(length) if length else b""
        environ["wsgi.input"] = io.BytesIO(body)
        entry = {"line": environ.get("vevude.requestline", ""),
                 "headers": environ.get("vevude.headers", []),
                 "body": base64.b64encode(body).decode()}
        with open(self.log, "a") as f:
            f.write(json.dumps(entry) + "\n")
        path = environ.get("PATH_INFO", "")
        if path in CANNED:
            status, headers, text = CANNED[path]
            data = text.encode()
            start_response(status, headers + [("Content-Length", str(len(data)))])
            return [data]
        if path != SOAP_PATH:
            start_response("404 Not Found", [("Content-Type", "text/plain")])
            return [b"unknown path"]
        return self.app(environ, start_response)


class Handler(WSGIRequestHandler):
    def log_message(self, *args):
        pass

    def get_environ(self):
        env = super().get_environ()
        env["vevude.requestline"] = self.requestline
        env["vevude.headers"] = list(self.headers.items())  # arrival order
        return env


class Server(WSGIServer):
    address_family = socket.AF_INET
    timeout = 5


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port-file", required=True)
    ap.add_argument("--log", required=True)
    ap.add_argument("--cert")
    ap.add_argument("--key")
    a = ap.parse_args()
    httpd = Server(("127.0.0.1", 0), Handler)
    httpd.set_app(Recorder(APP, a.log))
    if a.cert:
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.load_cert_chain(a.cert, a.key)
        httpd.socket = ctx.wrap_socket(httpd.socket, server_side=True)
    tmp = a.port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write(str(httpd.server_address[1]))
    os.rename(tmp, a.port_file)
    try:
        httpd.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
