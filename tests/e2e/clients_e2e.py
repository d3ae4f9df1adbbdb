#!/usr/bin/python3
"""Real legacy SOAP clients end to end: suds, zeep, PHP's SoapClient and
mono's ASMX client each read the WSDL from a running web server (the first
row of the deployment table, started once) and call GetFlightsOpSoap, with
the spyne upstream behind the relay. Every record is checked field by field
against what the upstream sent, for 0, 3 and 1,000 records with non-ASCII
text (also outside the Basic Multilingual Plane) and markup.

Each client reads some things its own way; `expect` of each row states
exactly how (the README's interop table says the same):
  - PHP's SoapClient: a property exactly when it was sent, with its text;
  - suds: a property exactly when it was sent, but empty text reads as None;
  - zeep, in its default strict mode: every property always, None for one
    not sent and for empty text;
  - mono's ASMX client (the proxy that `wsdl` generates from the WSDL as
    served, unedited, compiled with mono_client.cs): every member always,
    null for one not sent, "" for empty text. It decodes an answer by the
    charset of its Content-Type (US-ASCII when none is named), so a
    missing charset turns every non-ASCII byte into "?".
suds and zeep also need the SOAP encoding schema, which the WSDL names by
its namespace only: they are given a local copy (endpoint_soapenc.xsd).

  clients_e2e.py --binary PATH [unittest arguments]
"""
import json
import os
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import endpoint_e2e as e2e  # noqa: E402
import relay_upstream  # noqa: E402  (the records the upstream answers)
import web_servers  # noqa: E402

BINARY = None
FIELDS = relay_upstream.FIELDS
AIRPORTS = ["N0", "N3", "R1000"]  # 0, 3 and 1,000 records
PHP_TIMEOUT = 300  # seconds for one PHP run
MONO_TIMEOUT = 300  # seconds for one step of mono's client (generate, compile, call)


def sent(airport):
    """The records the upstream sends: each a dict of the properties sent."""
    return [{n: getattr(r, n) for n in FIELDS if getattr(r, n) is not None}
            for r in relay_upstream.records(airport)]


def php_read(url, airport):
    p = subprocess.run(["php", os.path.join(HERE, "php_client.php"), url, airport],
                       capture_output=True, timeout=PHP_TIMEOUT)
    if p.returncode != 0:
        raise AssertionError("php failed: %s%s" % (p.stdout.decode(), p.stderr.decode()))
    return json.loads(p.stdout)["records"]


def suds_read(url, airport):
    records = e2e.suds_client(url).service.GetFlightsOpSoap(airport) or []
    # suds sets an attribute for each element it read.
    return [{n: (None if getattr(r, n) is None else str(getattr(r, n)))
             for n in FIELDS if hasattr(r, n)} for r in records]


def zeep_read(url, airport):
    records = e2e.zeep_client(url).service.GetFlightsOpSoap(airport) or []
    return [{n: r[n] for n in FIELDS} for r in records]


def mono_run(args, cwd):
    """Runs one of mono's tools with no proxy from the environment."""
    env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower()}
    p = subprocess.run(args, cwd=cwd, env=env, capture_output=True, timeout=MONO_TIMEOUT)
    if p.returncode != 0:
        raise AssertionError("%s failed: %s%s" % (args[0], p.stdout.decode(errors="replace"),
                                                  p.stderr.decode(errors="replace")))
    return p.stdout


MONO_READ = {}  # WSDL URL -> {airport: records read}


def mono_read(url, airport):
    """The proxy as `wsdl` generates it from the WSDL as served, compiled
    with the driver, calls for every airport of the table in one run (each
    start of the client costs most of a second)."""
    if url not in MONO_READ:
        folder = os.path.join(ClientsTest.work, "mono-%d" % len(MONO_READ))
        os.makedirs(folder)
        mono_run(["wsdl", "-nologo", "-out:proxy.cs", url], folder)
        mono_run(["mcs", "-nologo", "-r:System.Web.Services.dll", "-out:client.exe",
                  "proxy.cs", os.path.join(HERE, "mono_client.cs")], folder)
        lines = mono_run(["mono", "client.exe"] + AIRPORTS, folder).splitlines()
        MONO_READ[url] = dict(zip(AIRPORTS, (json.loads(line) for line in lines)))
    return MONO_READ[url][airport]


# client, reader, and what it reads for a record the upstream sent.
CLIENTS = [
    ("php-soapclient", php_read, lambda rec: rec),
    ("suds", suds_read, lambda rec: {n: v or None for n, v in rec.items()}),
    ("zeep", zeep_read, lambda rec: {n: rec.get(n) or None for n in FIELDS}),
    ("mono-asmx", mono_read, lambda rec: {n: rec.get(n) for n in FIELDS}),
]


def versions():
    import suds
    import zeep
    php = subprocess.run(["php", "-r", "echo PHP_VERSION;"], capture_output=True, text=True)
    mono = subprocess.run(["mono", "--version"], capture_output=True, text=True)
    return "suds %s, zeep %s, PHP %s, %s" % (suds.__version__, zeep.__version__, php.stdout,
                                            mono.stdout.splitlines()[0])


class ClientsTest(web_servers.PeersTestCase):
    @classmethod
    def start_peers(cls):
        print("clients:", versions(), file=sys.stderr)
        cls.upstream = cls.peer(e2e.Upstream(cls.work))
        folder = web_servers.ServiceFolder(cls.work, BINARY, cls.upstream.config())
        cls.site = cls.peer(web_servers.CONFIGURATIONS[0][2](cls.work, folder).start())

    def test_every_record_field_by_field(self):
        url = self.site.url("/VEVUDE/wsdl/IDRUX")
        for client, read, expect in CLIENTS:
            for airport in AIRPORTS:
                with self.subTest(client=client, airport=airport):
                    got = read(url, airport)
                    wanted = [expect(rec) for rec in sent(airport)]
                    self.assertEqual(len(got), len(wanted))
                    for i, (g, w) in enumerate(zip(got, wanted)):
                        self.assertEqual(g, w, "record %d" % i)

    def test_zz_the_program_reported_nothing(self):
        # Runs last: every call succeeded, so nothing may be on standard error.
        self.assertNotIn("VEVUDE", self.site.errors())
        self.assertNotIn("Sanitizer", self.site.errors())


if __name__ == "__main__":
    BINARY = web_servers.binary_argument(__doc__)
    unittest.main(verbosity=2)
