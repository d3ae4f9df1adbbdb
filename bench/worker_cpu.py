#!/usr/bin/python3
"""Where a persistent deployment's CPU goes, per request.

Runs VEVUDE as FastCGI workers behind lighttpd (mod_fastcgi, bin-path, as the
shared bench deploys it) or behind nginx with kept connections to spawn-fcgi
workers, against the shared bench's canned upstream, loads it with wrk, and
prints the CPU time per request of the workers, the web server, the
upstream and wrk, read from /proc. With --perf it also records the workers
with perf (a profile to read with `perf report -i DIR/perf.data`).

Needs the shared bench's peers built (../shared/peers/bench.sh builds them in
$PEERS_BUILD, by default $TMPDIR/vevude-peers), wrk, lighttpd, nginx and
spawn-fcgi.

  bench/worker_cpu.py BUILD/VEVUDE [--records 10] [--seconds 8] [--workers 2]
                      [--server lighttpd|nginx] [--perf]
"""
import argparse
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

REQUEST = ('<?xml version="1.0" encoding="utf-8"?><SOAP-ENV:Envelope '
           'xmlns:SOAP-ENV="http://schemas.xmlsoap.org/soap/envelope/" '
           'xmlns:xsd="http://www.w3.org/2001/XMLSchema" '
           'xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" '
           'xmlns:SOAP-ENC="http://schemas.xmlsoap.org/soap/encoding/" '
           'SOAP-ENV:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"><SOAP-ENV:Body>'
           '<NS1:GetFlightsOpSoap xmlns:NS1="urn:uDRUXIntf-IDRUX"><Airport xsi:type="xsd:string">'
           'MAD</Airport></NS1:GetFlightsOpSoap></SOAP-ENV:Body></SOAP-ENV:Envelope>')
SOAPACTION = '"urn:uDRUXIntf-IDRUX#GetFlightsOpSoap"'
TICKS = os.sysconf("SC_CLK_TCK")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_port(port, seconds=10):
    deadline = time.time() + seconds
    while time.time() < deadline:
        try:
            socket.create_connection(("127.0.0.1", port), 0.2).close()
            return
        except OSError:
            time.sleep(0.05)
    raise SystemExit("nothing listens on %d" % port)


def cpu(pids):
    """User and system time of the processes, in seconds."""
    total = 0
    for pid in pids:
        try:
            with open("/proc/%d/stat" % pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            total += int(fields[11]) + int(fields[12])
        except OSError:
            pass
    return total / TICKS


def children(pid):
    """Every descendant of `pid`."""
    found, todo = [], [pid]
    while todo:
        p = todo.pop()
        try:
            with open("/proc/%d/task/%d/children" % (p, p)) as f:
                kids = [int(k) for k in f.read().split()]
        except OSError:
            kids = []
        found += kids
        todo += kids
    return found


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("vevude")
    ap.add_argument("--records", type=int, default=10)
    ap.add_argument("--seconds", type=int, default=8)
    ap.add_argument("--workers", type=int, default=2)
    ap.add_argument("--conns", type=int, default=4)
    ap.add_argument("--server", choices=("lighttpd", "nginx"), default="lighttpd")
    ap.add_argument("--perf", action="store_true")
    args = ap.parse_args()
    peers = os.environ.get("PEERS_BUILD") or os.path.join(tempfile.gettempdir(), "vevude-peers")
    upstream_bin = os.path.join(peers, "upstream", "canned_upstream")
    if not os.access(upstream_bin, os.X_OK):
        sys.exit("%s not built: run ../shared/peers/bench.sh once" % upstream_bin)
    vevude = os.path.abspath(args.vevude)
    work = tempfile.mkdtemp(prefix="worker-cpu-")
    procs = []
    try:
        up = subprocess.Popen([upstream_bin, "-d", os.path.join(peers, "upstream", "responses"),
                               "-a", "bench:bench", "-t", "3600"], stdout=subprocess.PIPE)
        procs.append(up)
        uport = int(up.stdout.readline().split()[1])
        folder = os.path.join(work, "bin")
        os.makedirs(folder)
        os.symlink(vevude, os.path.join(folder, "VEVUDE"))
        with open(os.path.join(folder, "config.ini"), "w") as f:
            f.write("[AUTHENTICATION]\nusername=bench\npassword=bench\n[WEBSERVICE]\n"
                    "protocol=http\nipaddress=127.0.0.1:%d\npath=n/%d\n" % (uport, args.records))
        port = free_port()
        workers = []
        if args.server == "lighttpd":
            conf = os.path.join(work, "lighttpd.conf")
            with open(conf, "w") as f:
                f.write('server.document-root = "%s"\nserver.bind = "127.0.0.1"\nserver.port = %d\n'
                        'server.errorlog = "%s/error.log"\nserver.modules = ("mod_fastcgi")\n'
                        'fastcgi.server = ("/fcgi" => (("bin-path" => "%s/VEVUDE", "socket" => '
                        '"%s/fcgi.sock", "max-procs" => %d, "check-local" => "disable")))\n'
                        % (work, port, work, folder, work, args.workers))
            web = subprocess.Popen(["lighttpd", "-D", "-f", conf], stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
            procs.append(web)
            wait_port(port)
        else:
            ports = [free_port() for _ in range(args.workers)]
            for p in ports:
                w = subprocess.Popen(["spawn-fcgi", "-a", "127.0.0.1", "-p", str(p), "-d", folder,
                                      "-n", "--", os.path.join(folder, "VEVUDE")],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                procs.append(w)
                workers.append(w.pid)
                wait_port(p)
            shutil.copy("/etc/nginx/fastcgi_params", work)
            conf = os.path.join(work, "nginx.conf")
            servers = "".join("    server 127.0.0.1:%d;\n" % p for p in ports)
            temp = " ".join("%s_temp_path %s/%s;" % (k, work, k)
                            for k in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
            with open(conf, "w") as f:
                f.write("worker_processes 1;\npid %s/nginx.pid;\nerror_log %s/error.log;\n"
                        "events { worker_connections 256; }\nhttp {\n  access_log off;\n  %s\n"
                        "  upstream vevude {\n%s    keepalive 8;\n  }\n"
                        "  server {\n    listen 127.0.0.1:%d;\n"
                        "    location /fcgi/ {\n      include fastcgi_params;\n"
                        "      fastcgi_split_path_info ^(/fcgi)(/.*)$;\n"
                        "      fastcgi_param SCRIPT_NAME $fastcgi_script_name;\n"
                        "      fastcgi_param PATH_INFO $fastcgi_path_info;\n"
                        "      fastcgi_keep_conn on;\n      fastcgi_pass vevude;\n    }\n  }\n}\n"
                        % (work, work, temp, servers, port))
            web = subprocess.Popen(["nginx", "-p", work, "-c", conf, "-g", "daemon off;"],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            procs.append(web)
            wait_port(port)
        lua = os.path.join(work, "post.lua")
        with open(lua, "w") as f:
            f.write('wrk.method = "POST"\nwrk.body = %s\nwrk.headers["Content-Type"] = '
                    '"text/xml; charset=utf-8"\nwrk.headers["SOAPAction"] = %s\n'
                    % (json.dumps(REQUEST), json.dumps(SOAPACTION)))
        url = "http://127.0.0.1:%d/fcgi/soap/IDRUX" % port
        subprocess.run(["wrk", "-t1", "-c%d" % args.conns, "-d2s", "-s", lua, url],
                       stdout=subprocess.DEVNULL, check=True)  # warm: workers up, connections kept
        if args.server == "lighttpd":
            workers = [p for p in children(web.pid)]
        web_pids = [web.pid] + ([p for p in children(web.pid)] if args.server == "nginx" else [])
        perf = None
        if args.perf:
            perf = subprocess.Popen(["perf", "record", "-F", "4999", "-g", "-o",
                                     os.path.join(work, "perf.data"), "-p",
                                     ",".join(str(p) for p in workers), "--", "sleep",
                                     str(args.seconds)],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        before = (cpu(workers), cpu(web_pids), cpu([up.pid]))
        t0 = os.times()
        out = subprocess.run(["wrk", "-t1", "-c%d" % args.conns, "-d%ds" % args.seconds, "-s", lua,
                              url], capture_output=True, text=True, check=True).stdout
        t1 = os.times()
        after = (cpu(workers), cpu(web_pids), cpu([up.pid]))
        if perf:
            perf.wait()
        requests = int(next(l for l in out.splitlines() if "requests in" in l).split()[0])
        rps = float(next(l for l in out.splitlines() if "Requests/sec" in l).split()[1])
        wrk_cpu = (t1.children_user + t1.children_system) - (t0.children_user + t0.children_system)
        us = lambda seconds: seconds / requests * 1e6
        print("%s, N = %d, %d workers: %.0f requests/s" % (args.server, args.records, args.workers,
                                                           rps))
        print("CPU per request: workers %.0f us, web server %.0f us, upstream %.0f us, wrk %.0f us"
              % (us(after[0] - before[0]), us(after[1] - before[1]), us(after[2] - before[2]),
                 us(wrk_cpu)))
        if args.perf:
            print("profile: perf report -i %s/perf.data" % work)
            work = None  # kept for the profile
    finally:
        for p in reversed(procs):
            p.send_signal(signal.SIGTERM)
            try:
                p.wait(5)
            except subprocess.TimeoutExpired:
                p.kill()
        if work:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
