#!/usr/bin/python3
"""A document/literal flight-operations upstream for the relay's tests and
for the demonstration that scripts/run starts.

Serves GetFlightsOp (spyne, SOAP 1.1) at /svc/FlightsOp.asmx on a loopback
port (a free one unless --port names it) and writes the port to the port
file. With --log it records every request it receives, raw header lines in
arrival order and the body, as one JSON line per request. A few fixed paths
answer the ways an upstream can fail instead. With --user and --password
the service answers only requests that carry those Basic credentials (401
otherwise). With --demo it serves the sample flight operations of DEMO
instead of the test answers of records().

  relay_upstream.py --port-file F [--port P] [--log L] [--cert C --key K]
                    [--user U --password P] [--demo]
"""
import argparse
import base64
import io
import json
import os
import signal
import socket
import ssl
import sys
from wsgiref.simple_server import WSGIRequestHandler, WSGIServer

from spyne import Application, Array, ComplexModel, Fault, ServiceBase, Unicode, rpc
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


# The rich records of "R<k>": every field in use, with non-ASCII text (also
# outside the Basic Multilingual Plane), markup, and blanks and a line feed
# around and inside a value; some fields empty, some absent; the values
# differ from record to record.
def rich(i):
    return FlightOp(
        Airline=("IB", "UX", "VY", "LX")[i % 4], Id_Airline=str(i % 4 + 1),
        Flight="%s%04d" % (("IB", "UX", "VY", "LX")[i % 4], i), MovTp="AD"[i % 2],
        Destino="ZRH", DestDesc="Z\u00fcrich <Kloten> & \"T1\" 'S\u00fcd' \u2708 #%d" % i,
        Origen="LCG", OrigDesc=("A Coru\u00f1a ]]> \u5317\u4eac \U0001F6EB" if i % 11 == 0 else
                                " A Coru\u00f1a\n(LCG)\t " if i % 7 == 1 else "A Coru\u00f1a"),
        Stda="2026-12-10T%02d:%02d:00" % (i // 60 % 24, i % 60),
        Atda="" if i % 5 == 0 else "2026-12-10T%02d:%02d:30" % (i // 60 % 24, i % 60),
        Via=None if i % 3 == 0 else "MAD", Pax=str(i))


def records(airport):
    """The answer for an airport: a few fixed shapes the tests know."""
    if airport == "FAULT":
        raise Fault(faultcode="Server", faultstring="Upstream broke for FAULT")
    if airport.startswith("R") and airport[1:].isdigit():
        return [rich(i) for i in range(int(airport[1:]))]
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


def demo_op(airline, number, movtp, other, other_desc, stda, atda, pax, via=None):
    """One sample operation at the airport asked for (filled in later)."""
    op = {"Airline": airline, "Id_Airline": {"VY": "1", "IB": "2", "LX": "3", "AF": "4",
                                             "TP": "5", "UX": "6"}[airline],
          "Flight": "%s%s" % (airline, number), "MovTp": movtp, "Stda": stda, "Atda": atda,
          "Pax": pax}
    if via:
        op["Via"] = via
    # Departures name their destination, arrivals their origin.
    if movtp == "D":
        op.update(Destino=other, DestDesc=other_desc)
    else:
        op.update(Origen=other, OrigDesc=other_desc)
    return op


# Sample flight operations of the demonstration, per airport; OPO has none.
DEMO = {
    "BCN": ("Barcelona-El Prat", [
        demo_op("VY", "1234", "D", "LIS", "Lisboa Humberto Delgado", "2026-12-10T07:05:00",
                "2026-12-10T07:12:00", "174"),
        demo_op("IB", "2721", "A", "MAD", "Madrid-Barajas Adolfo Su\u00e1rez",
                "2026-12-10T08:30:00", "2026-12-10T08:26:00", "151"),
        demo_op("LX", "1951", "D", "ZRH", "Z\u00fcrich", "2026-12-10T09:40:00", "", "132"),
        demo_op("AF", "1149", "A", "CDG", "Paris <Charles de Gaulle> T2F & T2G",
                "2026-12-10T10:15:00", "", "168"),
    ]),
    "MAD": ("Madrid-Barajas Adolfo Su\u00e1rez", [
        demo_op("IB", "3170", "D", "CDG", "Paris <Charles de Gaulle>", "2026-12-10T08:00:00",
                "2026-12-10T08:04:00", "183"),
        demo_op("UX", "1001", "D", "LCG", "A Coru\u00f1a", "2026-12-10T09:10:00", "", "96"),
        demo_op("TP", "1017", "A", "LIS", "Lisboa Humberto Delgado", "2026-12-10T11:45:00", "",
                "142", via="OPO"),
    ]),
    "LIS": ("Lisboa Humberto Delgado", [
        demo_op("TP", "1018", "D", "MAD", "Madrid-Barajas Adolfo Su\u00e1rez",
                "2026-12-10T13:20:00", "", "139"),
        demo_op("VY", "1235", "A", "BCN", "Barcelona-El Prat", "2026-12-10T09:55:00",
                "2026-12-10T10:01:00", "171"),
    ]),
    "OPO": ("Porto Francisco S\u00e1 Carneiro", []),
}


def demo_records(airport):
    """The demonstration's answer: the airport's sample operations, each
    also naming the airport itself; an unknown airport has none."""
    name, ops = DEMO.get(airport, ("", []))
    answer = []
    for op in ops:
        here = {"Origen": airport, "OrigDesc": name} if op["MovTp"] == "D" else \
            {"Destino": airport, "DestDesc": name}
        answer.append(FlightOp(**dict(op, **here)))
    return answer


ANSWER = {"records": records}


class FlightsOp(ServiceBase):
    @rpc(Unicode, _returns=Array(FlightOp, type_name="ArrayOfFlightOp"))
    def GetFlightsOp(ctx, idarpt):
        return ANSWER["records"](idarpt if idarpt is not None else "")


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
    """WSGI middleware that appends each request to the log (if any) and
    checks the credentials (if any) of the service's path."""

    def __init__(self, app, log, credentials=None):
        self.app, self.log = app, log
        self.basic = None
        if credentials:
            self.basic = "Basic " + base64.b64encode(":".join(credentials).encode()).decode()

    def __call__(self, environ, start_response):
        length = int(environ.get("CONTENT_LENGTH") or 0)
        body = environ["wsgi.input"].read(length) if length else b""
        environ["wsgi.input"] = io.BytesIO(body)
        entry = {"line": environ.get("vevude.requestline", ""),
                 "headers": environ.get("vevude.headers", []),
                 "body": base64.b64encode(body).decode()}
        if self.log:
            with open(self.log, "a") as f:
                f.write(json.dumps(entry) + "\n")
        path = environ.get("PATH_INFO", "")
        if self.basic and path == SOAP_PATH and environ.get("HTTP_AUTHORIZATION") != self.basic:
            path = "/auth401"
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
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--log")
    ap.add_argument("--cert")
    ap.add_argument("--key")
    ap.add_argument("--user")
    ap.add_argument("--password")
    ap.add_argument("--demo", action="store_true")
    a = ap.parse_args()
    if a.demo:
        ANSWER["records"] = demo_records
    httpd = Server(("127.0.0.1", a.port), Handler)
    credentials = (a.user, a.password) if a.user is not None else None
    httpd.set_app(Recorder(APP, a.log, credentials))
    serve(httpd, a.cert, a.key, a.port_file)


def serve(httpd, cert, key, port_file):
    """Serves until SIGTERM or SIGINT: over TLS when `cert` is given, after
    writing the port it listens on to `port_file` (whole, or not at all)."""
    if cert:
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.load_cert_chain(cert, key)
        httpd.socket = ctx.wrap_socket(httpd.socket, server_side=True)
    tmp = port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write(str(httpd.server_address[1]))
    os.rename(tmp, port_file)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    try:
        httpd.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
