#!/usr/bin/python3
"""The web servers of the deployment examples, started for tests.

Each server runs on a free loopback port as an unprivileged configuration
in a temporary folder: a small main configuration of the test's own (port,
pid file, logs, temporary paths, the server's user) includes the example
file shipped under deploy/, with only the service folder /srv/vevude (and
fcgiwrap's socket) replaced by temporary ones. So the file tested is the
file shipped.

CONFIGURATIONS is the table of (server, mode) rows. Each row names a class
that writes the main configuration and starts the server (and any helper
process it needs). Adding a mode is one class and one row.
"""
import grp
import os
import pwd
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import endpoint_e2e as e2e  # noqa: E402  (requests)
import peers  # noqa: E402  (free ports, waiting)

REPO = os.path.dirname(os.path.dirname(HERE))
DEPLOY = os.path.join(REPO, "deploy")
EXAMPLE_FOLDER = "/srv/vevude"  # the service folder the examples name
STOP_TIMEOUT = 5  # seconds for a server to stop
SANITIZER_VARS = ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS")


def server_user():
    """(name, uid, gid) of the user the servers run the program as: as root
    the servers give up root for www-data, as Debian's do; otherwise they
    stay the user running the tests."""
    if os.getuid() == 0:
        entry = pwd.getpwnam("www-data")
    else:
        entry = pwd.getpwuid(os.getuid())
    return entry.pw_name, entry.pw_uid, entry.pw_gid


def sanitizer_env():
    return {k: os.environ[k] for k in SANITIZER_VARS if os.environ.get(k)}


class ServiceFolder:
    """The service folder as the README tells an operator to lay it out:
    the program (a symbolic link to it) and config.ini, which only the
    server's user may read. It
    lies under the servers' document root (www/vevude): the worst place,
    where only the example's own rule keeps config.ini from being served."""

    def __init__(self, work, binary, config_text):
        self.docroot = os.path.join(work, "www")
        self.path = os.path.join(self.docroot, "vevude")
        os.makedirs(self.path)
        # The program as a link to an installed copy: the server's user must
        # reach the program, and a build folder may be closed to it.
        installed = os.path.join(work, "opt", "VEVUDE")
        os.makedirs(os.path.dirname(installed))
        shutil.copy(binary, installed)
        os.symlink(installed, os.path.join(self.path, "VEVUDE"))
        self.config = os.path.join(self.path, "config.ini")
        with open(self.config, "w", encoding="utf-8") as f:
            f.write(config_text)
        _, uid, gid = server_user()
        os.chmod(self.config, 0o600)
        os.chown(self.config, uid, gid)
        for folder in (work, self.docroot, self.path, os.path.dirname(installed)):
            os.chmod(folder, 0o755)


class WebServer:
    """One server of one row; subclasses write the configuration and start
    the processes. `programlog` is the log where the program's standard
    error lands (the error log unless the server keeps another), and
    `relay_log_line` how one "VEVUDE relay: ..." line shows in it."""

    server = mode = example = None

    def __init__(self, work, folder):
        self.work = os.path.join(work, "%s-%s" % (self.server, self.mode))
        os.makedirs(self.work)
        os.chmod(self.work, 0o755)
        self.folder = folder
        self.port = peers.free_port()
        self.errorlog = self.programlog = self.log_file("error.log")
        self.procs = []

    def log_file(self, name):
        """An empty log file the server's user may write: lighttpd opens its
        logs after giving up root."""
        path = os.path.join(self.work, name)
        open(path, "w").close()
        os.chown(path, server_user()[1], server_user()[2])
        return path

    def example_text(self, **replace):
        """The example file of deploy/ with the service folder (and any
        other text given) replaced."""
        with open(os.path.join(DEPLOY, self.example)) as f:
            text = f.read().replace(EXAMPLE_FOLDER, self.folder.path)
        for old, new in replace.items():
            assert old in text, old
            text = text.replace(old, new)
        return text

    def write(self, name, text):
        path = os.path.join(self.work, name)
        with open(path, "w") as f:
            f.write(text)
        return path

    def spawn(self, cmd, stderr=subprocess.DEVNULL, **kw):
        """Starts a process in a process group of its own, so that closing
        stops its children too (fcgiwrap's, Apache's, nginx's workers)."""
        proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=stderr,
                                start_new_session=True, **kw)
        self.procs.append(proc)
        return proc

    def start(self):
        """Starts the server and waits until its port answers; on failure
        stops whatever it started."""
        try:
            self.launch()
            peers.wait_until(lambda: peers.port_open(self.port), self.procs[-1])
        except Exception:
            self.close()
            raise
        return self

    def launch(self):
        raise NotImplementedError

    def relay_log_line(self, line):
        raise NotImplementedError

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def request(self, method, path, body=None, headers=None):
        """(status, content type, body) of one request."""
        return e2e.http_request(self.port, method, path, body, headers)

    def errors(self):
        """What the program wrote to standard error, among the rest."""
        with open(self.programlog, encoding="utf-8", errors="replace") as f:
            return f.read()

    def close(self):
        for proc in reversed(self.procs):
            stop_group(proc)


def stop_group(proc):
    """Stops a process and every process of its group: politely, then not."""
    for sig in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.killpg(proc.pid, sig)
        except ProcessLookupError:
            return
        try:
            proc.wait(STOP_TIMEOUT)
        except subprocess.TimeoutExpired:
            continue
        # The leader has gone; its children may linger a moment.
        deadline = time.time() + STOP_TIMEOUT
        while time.time() < deadline:
            try:
                os.killpg(proc.pid, 0)
            except ProcessLookupError:
                return
            time.sleep(0.05)


def lighttpd_binary():
    return shutil.which("lighttpd") or "/usr/sbin/lighttpd"


class LighttpdCGI(WebServer):
    server, mode, example = "lighttpd", "cgi", "lighttpd/50-vevude.conf"
    DEBIAN_BREAKAGELOG = "/var/log/lighttpd/breakage.log"

    def replacements(self):
        return {self.DEBIAN_BREAKAGELOG: self.programlog}

    def launch(self):
        self.programlog = self.log_file("breakage.log")
        include = self.write("50-vevude.conf", self.example_text(**self.replacements()))
        lines = ['server.document-root = "%s"' % self.folder.docroot,
                 'server.bind = "127.0.0.1"', "server.port = %d" % self.port,
                 'server.pid-file = "%s/lighttpd.pid"' % self.work,
                 'server.errorlog = "%s"' % self.errorlog, "server.modules = ()"]
        if os.getuid() == 0:
            name = server_user()[0]
            lines += ['server.username = "%s"' % name, 'server.groupname = "%s"' % name]
        env = sanitizer_env()
        if env:
            lines.append('server.modules += ("mod_setenv")')
            lines.append("setenv.add-environment = (%s)" % ", ".join(
                '"%s" => "%s"' % kv for kv in env.items()))
        lines.append('include "%s"' % include)
        conf = self.write("lighttpd.conf", "\n".join(lines) + "\n")
        self.spawn([lighttpd_binary(), "-D", "-f", conf])

    def relay_log_line(self, line):
        return line  # as the program wrote it


APACHE_MODULES = "/usr/lib/apache2/modules"


def server_owned_folder(parent, name):
    """A folder the server's user may create sockets and files in."""
    path = os.path.join(parent, name)
    os.makedirs(path)
    os.chown(path, server_user()[1], server_user()[2])
    return path


class LighttpdFastCGI(LighttpdCGI):
    mode, example = "fastcgi", "lighttpd/50-vevude-fastcgi.conf"
    DEBIAN_SOCKET = "/run/lighttpd/vevude.sock"

    def replacements(self):
        socket = os.path.join(server_owned_folder(self.work, "run"), "vevude.sock")
        return dict(super().replacements(), **{self.DEBIAN_SOCKET: socket})


class ApacheCGId(WebServer):
    server, mode, example = "apache", "cgi", "apache/vevude.conf"
    modules = ["mpm_event", "authz_core", "alias", "env", "cgid"]

    def extra_lines(self):
        return (["ScriptSock %s/cgid.sock" % self.work] +
                ["PassEnv %s" % k for k in sanitizer_env()])

    def launch(self):
        include = self.write("vevude.conf", self.example_text())
        modules = self.modules
        lines = ["ServerRoot %s" % self.work, "ServerName 127.0.0.1",
                 "Listen 127.0.0.1:%d" % self.port, "PidFile %s/apache.pid" % self.work,
                 "DefaultRuntimeDir %s" % self.work, "ErrorLog %s" % self.errorlog,
                 "LogLevel warn"]
        lines += ["LoadModule %s_module %s/mod_%s.so" % (m, APACHE_MODULES, m) for m in modules]
        if os.getuid() == 0:
            lines += ["User %s" % server_user()[0], "Group %s" % grp.getgrgid(server_user()[2])[0]]
        lines += ["DocumentRoot %s" % self.folder.docroot,
                  "<Directory />\n    Require all denied\n</Directory>",
                  "<Directory %s>\n    Require all granted\n</Directory>" % self.folder.docroot]
        lines += self.extra_lines()
        lines.append("Include %s" % include)
        conf = self.write("apache2.conf", "\n".join(lines) + "\n")
        binary = shutil.which("apache2") or "/usr/sbin/apache2"
        self.spawn([binary, "-f", conf, "-DFOREGROUND"], env=dict(os.environ, **sanitizer_env()))

    def relay_log_line(self, line):
        return line  # mod_cgid hands the program the log itself


class ApacheFcgid(ApacheCGId):
    mode, example = "fcgid", "apache/vevude-fcgid.conf"
    modules = ["mpm_event", "authz_core", "alias", "fcgid"]

    def extra_lines(self):
        # mod_fcgid hands its workers no environment but what it is told to.
        ipc = server_owned_folder(self.work, "fcgid")
        return (["FcgidIPCDir %s" % ipc, "FcgidProcessTableFile %s/table" % ipc] +
                ["FcgidInitialEnv %s %s" % kv for kv in sanitizer_env().items()])

    def relay_log_line(self, line):
        return line  # mod_fcgid hands its workers the error log itself



def nginx_conf(site, server_include, http_include=None):
    """The main nginx.conf of a row: one server on the row's port with the
    example included in it (and `http_include`, if given, in the http
    block). The example includes fastcgi_params beside it, as under
    /etc/nginx."""
    shutil.copy("/etc/nginx/fastcgi_params", site.work)
    temp = " ".join("%s_temp_path %s/%s;" % (k, site.work, k)
                    for k in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
    user = "user %s;\n" % server_user()[0] if os.getuid() == 0 else ""
    http = "  include %s;\n" % http_include if http_include else ""
    return site.write("nginx.conf", (
        "%sworker_processes 1;\npid %s/nginx.pid;\nerror_log %s;\n"
        "events { worker_connections 64; }\n"
        "http {\n  access_log off;\n  %s\n%s"
        "  server {\n    listen 127.0.0.1:%d;\n    server_name 127.0.0.1;\n"
        "    root %s;\n    include %s;\n  }\n}\n"
        % (user, site.work, site.errorlog, temp, http, site.port, site.folder.docroot,
           server_include)))


class NginxFcgiwrap(WebServer):
    server, mode, example = "nginx", "cgi", "nginx/vevude.conf"
    DEBIAN_SOCKET = "unix:/run/fcgiwrap.socket"

    def launch(self):
        # fcgiwrap makes its socket as the server's user, in a folder of its own.
        run = os.path.join(self.work, "run")
        os.makedirs(run)
        os.chown(run, server_user()[1], server_user()[2])
        socket = os.path.join(run, "fcgiwrap.sock")
        include = self.write("vevude.conf", self.example_text(
            **{self.DEBIAN_SOCKET: "unix:" + socket}))
        conf = nginx_conf(self, include)
        # fcgiwrap as Debian's service runs it: as the server's user, with
        # -f, so that the program's standard error travels to nginx.
        kw = {}
        if os.getuid() == 0:
            kw = {"user": server_user()[1], "group": server_user()[2], "extra_groups": []}
        fcgiwrap = shutil.which("fcgiwrap") or "/usr/sbin/fcgiwrap"
        proc = self.spawn([fcgiwrap, "-f", "-c", "2", "-s", "unix:" + socket],
                          env=dict(os.environ, **sanitizer_env()), **kw)
        peers.wait_until(lambda: os.path.exists(socket), proc)
        binary = shutil.which("nginx") or "/usr/sbin/nginx"
        self.spawn([binary, "-p", self.work, "-c", conf, "-g", "daemon off;"])

    def relay_log_line(self, line):
        return 'FastCGI sent in stderr: "%s"' % line


class NginxSpawnFcgi(WebServer):
    """nginx over two FastCGI workers started by the example's spawn-fcgi
    script on two ports; the workers' standard error is the program log."""
    server, mode, example = "nginx", "fastcgi", "nginx/vevude-fastcgi.conf"
    UPSTREAM = "nginx/vevude-fastcgi-upstream.conf"
    SCRIPT = "nginx/vevude-fastcgi.sh"
    EXAMPLE_PORTS = ("127.0.0.1:9001", "127.0.0.1:9002")

    def launch(self):
        self.programlog = self.log_file("workers.log")
        self.worker_ports = [peers.free_port() for _ in self.EXAMPLE_PORTS]
        with open(os.path.join(DEPLOY, self.UPSTREAM)) as f:
            upstream = f.read()
        for old, port in zip(self.EXAMPLE_PORTS, self.worker_ports):
            assert old in upstream, old
            upstream = upstream.replace(old, "127.0.0.1:%d" % port)
        upstream = self.write("vevude-fastcgi-upstream.conf", upstream)
        include = self.write("vevude-fastcgi.conf", self.example_text())
        kw = {}
        if os.getuid() == 0:  # the workers run as the server's user, as a service would
            kw = {"user": server_user()[1], "group": server_user()[2], "extra_groups": []}
        env = dict(os.environ, **sanitizer_env())
        env["PATH"] = "/usr/bin:/bin:" + env.get("PATH", "")
        with open(self.programlog, "ab") as log:
            for port in self.worker_ports:
                # Standard error goes where a service manager would put it.
                proc = self.spawn(["/bin/sh", os.path.join(DEPLOY, self.SCRIPT), str(port),
                                   self.folder.path], stderr=log, env=env, **kw)
                peers.wait_until(lambda: peers.port_open(port), proc)
        conf = nginx_conf(self, include, upstream)
        binary = shutil.which("nginx") or "/usr/sbin/nginx"
        self.spawn([binary, "-p", self.work, "-c", conf, "-g", "daemon off;"])

    def relay_log_line(self, line):
        return line  # the workers' own standard error


# The table of (server, mode) configurations the deployment tests run.
CONFIGURATIONS = [
    ("lighttpd", "cgi", LighttpdCGI),
    ("apache", "cgi", ApacheCGId),
    ("nginx", "cgi", NginxFcgiwrap),
    ("lighttpd", "fastcgi", LighttpdFastCGI),
    ("apache", "fcgid", ApacheFcgid),
    ("nginx", "fastcgi", NginxSpawnFcgi),
]


def configuration(name):
    """The class of the row named "<server>-<mode>"."""
    for server, mode, cls in CONFIGURATIONS:
        if "%s-%s" % (server, mode) == name:
            return cls
    raise KeyError(name)



class PeersTestCase(unittest.TestCase):
    """Tests whose peers (servers, upstreams) start once for the class, in a
    work folder of its own: start_peers adds them with peer(); they stop
    and the folder goes, also when starting fails."""

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="vevude-%s-" % cls.__name__.lower())
        cls.peers = []
        try:
            cls.start_peers()
        except Exception:
            cls.tearDownClass()
            raise

    @classmethod
    def start_peers(cls):
        pass

    @classmethod
    def peer(cls, peer):
        cls.peers.append(peer)
        return peer

    @classmethod
    def tearDownClass(cls):
        for peer in reversed(cls.peers):
            peer.close()
        shutil.rmtree(cls.work, ignore_errors=True)


def binary_argument(usage):
    """The program's absolute path from `--binary PATH` at the start of the
    command line, which then keeps only the rest (for unittest)."""
    if len(sys.argv) < 3 or sys.argv[1] != "--binary":
        sys.exit(usage)
    binary = os.path.abspath(sys.argv[2])
    del sys.argv[1:3]
    return binary
