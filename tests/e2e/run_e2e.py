#!/usr/bin/python3
"""scripts/run, the demonstration, as a newcomer uses it: started on a free
port with the program already built (VEVUDE_BINARY) in a site folder of the
test's own; the addresses it prints answer, the curl command it prints shows
the demo upstream's records, the check it prints passes, and Ctrl-C (SIGINT
to its process group, as a terminal sends it) stops everything it started.
Further starts show how config.ini is kept: rewritten while unedited,
replaced when it is the old placeholder sample, left alone once edited.

  run_e2e.py --binary PATH [unittest arguments]
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest
import urllib.request
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import endpoint_e2e as e2e  # noqa: E402
import peers  # noqa: E402
import relay_upstream  # noqa: E402  (the demo's answers)
import web_servers  # noqa: E402

BINARY = None
REPO = os.path.dirname(os.path.dirname(HERE))
START_TIMEOUT = 30  # seconds for the demo to come up
STOP_TIMEOUT = 10  # seconds for it to stop
READY = "Ctrl-C stops the demo."
SOAP_ENV = "http://schemas.xmlsoap.org/soap/envelope/"
OLD_SAMPLE = """; Settings of the upstream flight-operations service; replace the
; placeholders with the real values.
[AUTHENTICATION]
username=relay-user
password=change-me

[WEBSERVICE]
protocol=https
ipaddress=flightops.invalid
path=services/FlightsOp
proxyip=
proxyport=0
"""


def group_members(pgid):
    """The processes of a process group (zombies included)."""
    pids = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open("/proc/%s/stat" % entry) as f:
                    fields = f.read().rsplit(")", 1)[1].split()
            except OSError:
                continue
            if int(fields[2]) == pgid:
                pids.append(int(entry))
    return pids


class Demo:
    """One start of scripts/run in the given site folder."""

    def __init__(self, site):
        self.port = peers.free_port()
        self.log = tempfile.TemporaryFile()
        env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower()}
        env.update(PORT=str(self.port), VEVUDE_RUN_DIR=site, VEVUDE_BINARY=BINARY)
        # A session of its own, as a terminal gives a command line.
        self.proc = subprocess.Popen([os.path.join(REPO, "scripts", "run")], env=env,
                                     stdin=subprocess.DEVNULL, stdout=self.log,
                                     stderr=subprocess.STDOUT, start_new_session=True)
        try:
            peers.wait_until(lambda: READY in self.output(), self.proc, "demo", START_TIMEOUT)
        except Exception:
            self.stop(signal.SIGKILL)
            raise
        self.members = group_members(self.proc.pid)

    def output(self):
        self.log.seek(0)
        return self.log.read().decode("utf-8", "replace")

    def printed(self, label):
        """The value printed after "label:" in the banner."""
        return re.search(r"^  %s:\s+(\S+)$" % re.escape(label), self.output(), re.M).group(1)

    def stop(self, sig=signal.SIGINT, group=True):
        """Sends the signal (to the whole group, as Ctrl-C does, or to the
        script alone); gives the script's exit status."""
        try:
            if group:
                os.killpg(self.proc.pid, sig)
            else:
                self.proc.send_signal(sig)
            return self.proc.wait(STOP_TIMEOUT)
        finally:
            if self.proc.poll() is None:
                os.killpg(self.proc.pid, signal.SIGKILL)
                self.proc.wait()
            self.log.close()

    def left_over(self):
        """Processes the demo started that still run after it ended."""
        alive = []
        for pid in self.members:
            try:
                with open("/proc/%d/stat" % pid) as f:
                    state = f.read().rsplit(")", 1)[1].split()[0]
            except OSError:
                continue
            if state != "Z":
                alive.append(pid)
        return alive


def records_of(xml_bytes):
    """The records of an rpc/encoded answer, as dicts of the properties sent."""
    root = ET.fromstring(xml_bytes)
    body = root.find("{%s}Body" % SOAP_ENV)
    ids = {e.get("id"): e for e in body.iter() if e.get("id")}
    items = list(list(list(body)[0])[0])
    return [{c.tag: c.text or "" for c in ids[i.get("href")[1:]]} for i in items]


def demo_answer(airport):
    return [{n: getattr(r, n) for n in relay_upstream.FIELDS if getattr(r, n) is not None}
            for r in relay_upstream.demo_records(airport)]


class RunTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="vevude-run-")
        self.site = os.path.join(self.work, "site")
        self.config = os.path.join(self.site, "config.ini")

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def read_config(self):
        with open(self.config) as f:
            return f.read()

    def test_a_newcomer_sees_records_and_ctrl_c_stops_everything(self):
        demo = Demo(self.site)
        try:
            base = "http://127.0.0.1:%d/VEVUDE" % demo.port
            self.assertEqual(demo.printed("Service page"), base + "/")
            with urllib.request.urlopen(demo.printed("Service page"), timeout=30) as r:
                self.assertEqual(r.headers["Content-Type"], "text/html; charset=utf-8")
                self.assertIn(b"<title>VEVUDE</title>", r.read())
            with urllib.request.urlopen(demo.printed("WSDL"), timeout=30) as r:
                self.assertIn(('location="%s/soap/IDRUX"' % base).encode(), r.read())
            # The curl command, pasted into a shell as printed.
            curl = re.search(r"^curl .*$", demo.output(), re.M).group(0)
            got = subprocess.run(["bash", "-c", curl], capture_output=True, timeout=60)
            self.assertEqual(records_of(got.stdout), demo_answer("BCN"))
            self.assertEqual(len(demo_answer("BCN")), 4)
            # The check it suggests, from a shell in the site folder.
            check = re.search(r"\(cd (\S+) && (\./VEVUDE --check BCN)\)", demo.output())
            out = subprocess.run(["bash", "-c", check.group(2)], cwd=check.group(1),
                                 capture_output=True, text=True, timeout=60)
            self.assertEqual(out.returncode, 0, out.stdout)
            self.assertIn("result:       4 records\n", out.stdout)
            self.assertIn("password:     ******** (set)\n", out.stdout)
            self.assertEqual(os.stat(self.config).st_mode & 0o777, 0o600)
            self.assertGreaterEqual(len(demo.members), 3)  # script, upstream, lighttpd
        finally:
            status = demo.stop(signal.SIGINT)
        self.assertEqual(status, 130)
        self.assertEqual(demo.left_over(), [])
        self.assertFalse(peers.port_open(demo.port))

    def test_config_ini_is_kept_once_edited(self):
        os.makedirs(self.site)
        with open(self.config, "w") as f:
            f.write(OLD_SAMPLE)  # an old checkout's untouched sample
        for start in ("old sample", "unedited", "edited"):
            with self.subTest(start=start):
                before = self.read_config()
                demo = Demo(self.site)
                try:
                    after = self.read_config()
                    upstream = demo.printed("Demo upstream")
                    if start == "edited":
                        self.assertEqual(after, before)
                        self.assertIn("edited by you", demo.output())
                        # A call now fails (the old upstream has gone); its
                        # diagnostic line shows on the terminal, without
                        # the password.
                        call = e2e.CALL.replace("MAD", "BCN").encode()
                        req = urllib.request.Request(
                            "http://127.0.0.1:%d/VEVUDE/soap/IDRUX" % demo.port, call,
                            {"Content-Type": "text/xml"})
                        with urllib.request.urlopen(req, timeout=60) as r:
                            self.assertEqual(records_of(r.read()), [])
                        peers.wait_until(lambda: "VEVUDE relay: " in demo.output(), demo.proc)
                        self.assertNotIn("edited-secret", demo.output())
                    else:
                        self.assertIn("ipaddress=%s\n" % upstream.split("/")[2], after)
                        self.assertNotIn("edited by you", demo.output())
                finally:
                    # The script alone told to stop also stops the rest.
                    status = demo.stop(signal.SIGTERM, group=False)
                self.assertEqual(status, 143)
                self.assertEqual(demo.left_over(), [])
                if start == "unedited":
                    with open(self.config, "a") as f:
                        f.write("; my own note\n")
                    text = self.read_config().replace("demo-secret", "edited-secret")
                    with open(self.config, "w") as f:
                        f.write(text)


if __name__ == "__main__":
    BINARY = web_servers.binary_argument(__doc__)
    unittest.main(verbosity=2)
