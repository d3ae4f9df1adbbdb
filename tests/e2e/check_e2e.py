#!/usr/bin/python3
"""The operator's command line end to end: `VEVUDE --check [AIRPORT]` run in
a folder holding the config.ini under test, against the spyne upstream
(plain and TLS, both checking credentials), with the exact output and exit
status expected; --help, --version and wrong options; and that under a web
server (GATEWAY_INTERFACE set) the arguments are ignored and the request is
served as CGI.

  check_e2e.py --binary PATH [unittest arguments]
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import peers  # noqa: E402
import relay_e2e  # noqa: E402  (upstreams, certificates, free ports, the CGI request)
import web_servers  # noqa: E402

BINARY = None
NS = relay_e2e.NS
PATH = relay_e2e.PATH
USER, PASSWORD = "relay-user", "s3cr\u00e9t-pw"
RUN_TIMEOUT = 60  # seconds for one run
HEAD = "VEVUDE 1.0.0 operator check\n"


def clean_env():
    env = relay_e2e.clean_env()
    for name in ("GATEWAY_INTERFACE", "REQUEST_METHOD"):
        env.pop(name, None)
    return env


def run(args, cfg=None, env=None, stdin=None):
    """Runs the program in a folder of its own holding config.ini (unless
    cfg is None); gives (exit status, stdout, stderr, the folder's path)."""
    work = tempfile.mkdtemp(prefix="vevude-check-")
    try:
        if cfg is not None:
            with open(os.path.join(work, "config.ini"), "w", encoding="utf-8") as f:
                f.write(cfg)
        p = subprocess.run([BINARY] + args, cwd=work, env=env or clean_env(), input=stdin,
                           capture_output=True, timeout=RUN_TIMEOUT)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return p.returncode, p.stdout.decode("utf-8"), p.stderr.decode("utf-8"), work


def settings(work, upstream, username=USER, password="******** (set)", proxy="none",
             credentials="to the upstream service (HTTP Basic)",
             certificates="validated against the system's CA certificates", note=""):
    return ("settings:     %s/config.ini%s\nusername:     %s\npassword:     %s\n"
            "upstream:     %s\nproxy:        %s\ncredentials:  %s\ncertificates: %s\n"
            % (work, note, username, password, upstream, proxy, credentials, certificates))


class CheckTest(web_servers.PeersTestCase):
    @classmethod
    def start_peers(cls):
        auth = ["--user", USER, "--password", PASSWORD]
        cls.plain = cls.peer(relay_e2e.Upstream(cls.work, "plain", args=auth))
        cls.cert, key = relay_e2e.make_certificate(cls.work)
        cls.tls = cls.peer(relay_e2e.Upstream(cls.work, "tls", cls.cert, key, args=auth))

    def cfg(self, port, protocol="http", password=PASSWORD, address=None, path=PATH, **extra):
        return relay_e2e.config(auth=(USER, password), protocol=protocol,
                                ipaddress=address or "127.0.0.1:%d" % port, path=path, **extra)

    def test_check_runs(self):
        plain, tls, closed = self.plain.port, self.tls.port, peers.free_port()
        url = "http://127.0.0.1:%d/%s" % (plain, PATH)
        tls_url = "https://127.0.0.1:%d/%s" % (tls, PATH)
        closed_url = "http://127.0.0.1:%d/%s" % (closed, PATH)
        cases = [
            # name, config.ini (None: missing), airport, exit status,
            # expected output after the head with {dir} for the folder
            ("good upstream", self.cfg(plain), ["N3"], 0,
             settings("{dir}", url) + "airport:      N3\nresult:       3 records\n"),
            ("one record", self.cfg(plain), ["R1"], 0,
             settings("{dir}", url) + "airport:      R1\nresult:       1 record\n"),
            ("no airport", self.cfg(plain), [], 0,
             settings("{dir}", url) + "airport:      (empty)\nresult:       1 record\n"),
            ("airport without records", self.cfg(plain), ["N0"], 0,
             settings("{dir}", url) + "airport:      N0\nresult:       0 records\n"),
            ("unreachable", self.cfg(closed), ["N3"], 1,
             settings("{dir}", closed_url) + "airport:      N3\n"
             "result:       ENetHTTPClientException: Error sending data: (7) Couldn't connect "
             "to server\n"),
            ("auth refused", self.cfg(plain, password="wrong-" + PASSWORD), ["N3"], 1,
             settings("{dir}", url) + "airport:      N3\n"
             "result:       ESOAPHTTPException: Unauthorized (401) - '%s'\n" % url),
            ("TLS refused", self.cfg(tls, protocol="https"), ["N3"], 1,
             settings("{dir}", tls_url) + "airport:      N3\n"
             "result:       ENetHTTPCertificateException: Server Certificate not accepted\n"),
            ("TLS with cafile", self.cfg(tls, protocol="https", cafile=self.cert), ["N3"], 0,
             settings("{dir}", tls_url, certificates="validated against the system's CA "
                      "certificates and %s" % self.cert) +
             "airport:      N3\nresult:       3 records\n"),
            ("TLS unchecked", self.cfg(tls, protocol="https", ignoreinvalidcerts="1"), ["N3"], 0,
             settings("{dir}", tls_url, certificates="NOT validated (ignoreinvalidcerts)") +
             "airport:      N3\nresult:       3 records\n"),
            ("proxy refusing", self.cfg(plain, proxyip="http://127.0.0.1", proxyport=str(closed)),
             ["N3"], 1,
             settings("{dir}", url, proxy="http://127.0.0.1:%d" % closed,
                      credentials="to the proxy only") + "airport:      N3\n"
             "result:       ENetHTTPClientException: Error sending data: (7) Couldn't connect "
             "to server\n"),
            ("password in the address", self.cfg(plain, address="%s:%s@127.0.0.1:%d" % (
                USER, PASSWORD, plain), path="fail/404"), ["N3"], 1,
             settings("{dir}", "http://***@127.0.0.1:%d/fail/404" % plain) +
             "airport:      N3\nresult:       ESOAPHTTPException: Not Found (404) - "
             "'http://***@127.0.0.1:%d/fail/404'\n" % plain),
            ("no config.ini", None, ["N3"], 1,
             settings("{dir}", ":///", username="(empty)", password="(empty)", credentials="none",
                      note=" (missing: every setting is empty)") +
             "airport:      N3\nresult:       ENetURIException: Invalid URL: \":///\"\n"),
        ]
        for name, cfg, args, status, expected in cases:
            with self.subTest(name):
                code, out, err, work = run(["--check"] + args, cfg)
                self.assertEqual((code, out, err),
                                 (status, HEAD + expected.replace("{dir}", work), ""))
                self.assertNotIn(PASSWORD, out)

    def test_config_ini_the_user_cannot_read(self):
        # The check run as another user than the server's: it says so
        # instead of silently showing empty settings.
        work = tempfile.mkdtemp(prefix="vevude-check-perm-")
        try:
            os.chmod(work, 0o755)
            program = os.path.join(work, "VEVUDE")
            shutil.copy(BINARY, program)  # reachable by the other user
            config = os.path.join(work, "config.ini")
            with open(config, "w") as f:
                f.write(self.cfg(self.plain.port))
            os.chmod(config, 0o600 if os.getuid() == 0 else 0)
            kw = {}
            if os.getuid() == 0:
                import pwd
                other = pwd.getpwnam("nobody")
                kw = {"user": other.pw_uid, "group": other.pw_gid, "extra_groups": []}
            p = subprocess.run([program, "--check", "N3"], cwd=work, env=clean_env(),
                               capture_output=True, text=True, timeout=RUN_TIMEOUT, **kw)
        finally:
            shutil.rmtree(work, ignore_errors=True)
        self.assertEqual(p.returncode, 1)
        self.assertEqual(p.stdout.splitlines()[1], "settings:     %s/config.ini (not readable "
                         "by this user: every setting is empty)" % work)
        self.assertEqual(p.stdout.splitlines()[-1],
                         'result:       ENetURIException: Invalid URL: ":///"')

    def test_config_ini_that_is_not_a_regular_file(self):
        # A FIFO would block a reader forever: it counts as missing at once.
        work = tempfile.mkdtemp(prefix="vevude-check-fifo-")
        try:
            os.mkfifo(os.path.join(work, "config.ini"))
            p = subprocess.run([BINARY, "--check", "N3"], cwd=work, env=clean_env(),
                               capture_output=True, text=True, timeout=RUN_TIMEOUT)
        finally:
            shutil.rmtree(work, ignore_errors=True)
        self.assertEqual(p.returncode, 1)
        self.assertEqual(p.stdout.splitlines()[1], "settings:     %s/config.ini (not a regular "
                         "file: every setting is empty)" % work)
        self.assertEqual(p.stderr, "VEVUDE relay: ./config.ini is not a regular file: read as "
                         "missing\n")

    def test_help_version_and_wrong_options(self):
        cases = [
            # arguments, exit status, start of stdout, stderr
            (["--help"], 0, "Usage: VEVUDE [OPTION]\n", ""),
            (["--version"], 0, "VEVUDE 1.0.0\nupstream namespace: %s\n" % NS, ""),
            (["--chek"], 2, "", "VEVUDE: unknown option --chek; see VEVUDE --help\n"),
            (["--check", "A", "B"], 2, "",
             "VEVUDE: wrong number of arguments for --check; see VEVUDE --help\n"),
            (["--version", "x"], 2, "",
             "VEVUDE: wrong number of arguments for --version; see VEVUDE --help\n"),
        ]
        for args, status, out_start, err in cases:
            with self.subTest(args=args):
                code, out, got_err, _ = run(args)
                self.assertEqual((code, got_err), (status, err))
                self.assertTrue(out.startswith(out_start), out)
                if args == ["--version"]:
                    self.assertEqual(out, out_start)
        self.assertIn("  --check [AIRPORT]   ", run(["--help"])[1])

    def test_under_a_web_server_arguments_are_ignored(self):
        # Some servers pass the query string as arguments: the request is
        # served as CGI whatever they say.
        cgi = {"GATEWAY_INTERFACE": "CGI/1.1", "SERVER_NAME": "127.0.0.1", "SERVER_PORT": "8080",
               "SERVER_PROTOCOL": "HTTP/1.1", "SCRIPT_NAME": "/VEVUDE"}
        page = dict(clean_env(), REQUEST_METHOD="GET", PATH_INFO="/", **cgi)
        for args in (["--check"], ["--check", "N3"], ["--version"], ["--help"], ["--bogus"],
                     ["--fastcgi", "127.0.0.1:1"]):
            with self.subTest(args=args):
                code, out, err, _ = run(args, self.cfg(self.plain.port), env=page)
                self.assertEqual((code, err), (0, ""))
                self.assertTrue(out.startswith("Status: 200 OK\r\n"
                                               "Content-Type: text/html; charset=utf-8\r\n"),
                                out[:80])
                self.assertIn("<title>VEVUDE</title>", out)
        body = (relay_e2e.CGI_REQUEST % (relay_e2e.SOAP_ENV, "N3")).encode()
        call = dict(clean_env(), REQUEST_METHOD="POST", PATH_INFO="/soap/IDRUX",
                    CONTENT_TYPE="text/xml", CONTENT_LENGTH=str(len(body)), **cgi)
        code, out, err, _ = run(["--check", "N0"], self.cfg(self.plain.port), env=call,
                                stdin=body)
        self.assertEqual((code, err), (0, ""))
        self.assertTrue(out.startswith("Status: 200 OK\r\n"
                                        "Content-Type: text/xml; charset=utf-8\r\n"), out[:80])
        self.assertIn('SOAP-ENC:arrayType="NS2:FlightOp[3]"', out)  # N3, not N0


if __name__ == "__main__":
    BINARY = web_servers.binary_argument(__doc__)
    unittest.main(verbosity=2)
