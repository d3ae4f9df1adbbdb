#!/usr/bin/python3
"""Peak memory of a relay call against the size of the upstream answer.

The relay's memory must stay proportional to what the upstream sends: peak
RSS below 6 times the upstream body plus 20 MB, whatever the shape of the
answer. This bench runs the executable as a CGI process (as a web server
does) against a local upstream serving generated answers of several shapes
and sizes, and prints, per answer, the body size, the peak RSS (GNU time),
the bound, the ratio and whether the answer carried every record.

    bench/memory_bound.py [--binary build/VEVUDE] [--quick | --largest] [--shape NAME...]

The largest answer of each shape stays just under the 256 MiB body limit:
the bound must hold right up to it.

It is a measurement, not a test: it prints and exits 0; a row over the
bound is marked OVER.
"""
import argparse
import http.server
import os
import re
import socketserver
import subprocess
import sys
import tempfile
import threading
import time

NS = "https://www.ostrel.example/webservices/"
FIELDS = ["Airline", "Id_Airline", "Flight", "MovTp", "Destino", "DestDesc", "Origen",
          "OrigDesc", "Stda", "Atda", "Via", "Pax"]

# name: (description, record maker)
SHAPES = {
    "one-field": ("<FlightOp><Flight>F1</Flight></FlightOp>",
                  lambda i: "<FlightOp><Flight>F1</Flight></FlightOp>"),
    "twelve-field": ("twelve short fields, some escaped, some non-ASCII",
                     lambda i: "<FlightOp>" + "".join(
                         "<%s>%s</%s>" % (f, "V%d &amp; Z\u00fcrich" % i if k % 4 == 0 else "VALUE-%d-%d" % (i, k), f)
                         for k, f in enumerate(FIELDS)) + "</FlightOp>"),
    "empty-fields": ("twelve empty fields",
                     lambda i: "<FlightOp>" + "".join("<%s/>" % f for f in FIELDS) + "</FlightOp>"),
    # Records of eleven bytes, the fewest a record can take: the shape
    # closest to the bound, since a record costs the relay a few dozen bytes
    # however short it is.
    "empty-records": ("<FlightOp/>", lambda i: "<FlightOp/>"),
}


def answer(shape, n):
    make = SHAPES[shape][1]
    parts = ['<?xml version="1.0" encoding="utf-8"?><soap:Envelope xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/">'
             '<soap:Body><GetFlightsOpResponse xmlns="%s"><GetFlightsOpResult>' % NS]
    parts.extend(make(i) for i in range(n))
    parts.append("</GetFlightsOpResult></GetFlightsOpResponse></soap:Body></soap:Envelope>")
    return "".join(parts).encode("utf-8")


class Upstream(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    body = b""


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_POST(self):
        self.rfile.read(int(self.headers.get("Content-Length", "0")))
        body = self.server.body
        self.send_response(200)
        self.send_header("Content-Type", "text/xml; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        view = memoryview(body)
        for at in range(0, len(body), 1 << 20):
            self.wfile.write(view[at:at + (1 << 20)])

    def log_message(self, *args):
        pass


REQUEST = (b'<?xml version="1.0"?><SOAP-ENV:Envelope xmlns:SOAP-ENV="http://schemas.xmlsoap.org/soap/envelope/" '
           b'xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance"><SOAP-ENV:Body><NS1:GetFlightsOpSoap '
           b'xmlns:NS1="urn:uDRUXIntf-IDRUX"><Airport xsi:type="xsd:string">MAD</Airport></NS1:GetFlightsOpSoap>'
           b'</SOAP-ENV:Body></SOAP-ENV:Envelope>')


def run(binary, folder, port):
    env = {"PATH": "/usr/bin:/bin", "GATEWAY_INTERFACE": "CGI/1.1", "REQUEST_METHOD": "POST",
           "PATH_INFO": "/soap/IDRUX", "SCRIPT_NAME": "/VEVUDE", "SERVER_PROTOCOL": "HTTP/1.1",
           "SERVER_NAME": "127.0.0.1", "SERVER_PORT": "80", "CONTENT_TYPE": "text/xml",
           "CONTENT_LENGTH": str(len(REQUEST)), "HTTP_SOAPACTION": '"urn:uDRUXIntf-IDRUX#GetFlightsOpSoap"'}
    start = time.monotonic()
    p = subprocess.run(["/usr/bin/time", "-f", "MAXRSS %M", binary], input=REQUEST, cwd=folder, env=env,
                       capture_output=True, timeout=600)
    elapsed = time.monotonic() - start
    rss = int(re.search(rb"MAXRSS (\d+)", p.stderr).group(1)) * 1024
    m = re.search(rb'arrayType="[^":]*:FlightOp\[(\d+)\]"', p.stdout)
    return rss, int(m.group(1)) if m else -1, elapsed, p.stderr.decode(errors="replace")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--binary", default="build/VEVUDE")
    ap.add_argument("--quick", action="store_true", help="smaller answers only")
    ap.add_argument("--largest", action="store_true", help="only the largest answer of each shape")
    ap.add_argument("--shape", action="append", choices=sorted(SHAPES), help="only this shape (repeatable)")
    args = ap.parse_args()
    binary = os.path.abspath(args.binary)
    # The last count of each shape is the largest whose body (about 40, 410,
    # 128 and 11 bytes a record) stays under the body limit.
    counts = {"one-field": [250000, 1000000, 4000000, 6000000, 6700000],
              "twelve-field": [10000, 100000, 300000, 640000],
              "empty-fields": [100000, 1000000, 2050000],
              "empty-records": [100000, 1000000, 10000000, 24000000]}
    if args.quick:
        counts = {"one-field": [100000, 1000000], "twelve-field": [10000, 100000],
                  "empty-fields": [100000]}
    elif args.largest:
        counts = {shape: ns[-1:] for shape, ns in counts.items()}
    if args.shape:
        counts = {shape: ns for shape, ns in counts.items() if shape in args.shape}
    server = Upstream(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    port = server.server_address[1]
    print("%-13s %9s %9s %9s %9s %6s %7s %s" % ("shape", "records", "body MB", "RSS MB", "bound MB", "ratio",
                                               "seconds", "answer"))
    limit = 256 << 20  # the relay's cap on an upstream body
    with tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, "config.ini"), "w") as f:
            f.write("[WEBSERVICE]\nprotocol=http\nipaddress=127.0.0.1:%d\npath=answer\n" % port)
        for shape, ns in counts.items():
            for n in ns:
                server.body = answer(shape, n)
                body = len(server.body)
                if body > limit:
                    print("%-13s %9d %9.1f  over the body limit, skipped" % (shape, n, body / 1e6))
                    continue
                rss, got, seconds, err = run(binary, folder, port)
                bound = 6 * body + 20 * 1000 * 1000
                verdict = "ok" if rss <= bound else "OVER"
                said = "all %d" % got if got == n else ("empty list" if got == 0 else "got %d" % got)
                print("%-13s %9d %9.1f %9.1f %9.1f %6.2f %7.2f %s %s" % (
                    shape, n, body / 1e6, rss / 1e6, bound / 1e6, rss / bound, seconds, said, verdict), flush=True)
                if got != n and err.strip():
                    print("    stderr: %s" % err.strip().splitlines()[-1][:200])
    server.shutdown()
    return 0


if __name__ == "__main__":
    sys.exit(main())
