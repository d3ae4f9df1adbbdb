"""What every end-to-end script does with the processes it starts: a free
loopback port, waiting until a peer is ready, stopping it.

Imported by path: each script puts its own folder first on sys.path.
"""

import os
import signal
import socket
import subprocess
import time

START_TIMEOUT = 15  # seconds for a peer to come up
STOP_TIMEOUT = 5  # seconds for a peer to end after SIGTERM


def free_port():
    """A loopback port nobody listens on at the moment."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def port_open(port, timeout=0.5):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=timeout).close()
        return True
    except OSError:
        return False


def wait_until(ready, proc, what="server", timeout=START_TIMEOUT):
    """The first true value of ready(); raises when `proc` (if given) ends
    first or nothing is ready in time."""
    deadline = time.time() + timeout
    while time.time() < deadline:
        if proc is not None and proc.poll() is not None:
            raise RuntimeError("%s exited early (%s)" % (what, proc.returncode))
        value = ready()
        if value:
            return value
        time.sleep(0.05)
    raise RuntimeError("%s did not start" % what)


def wait_for_port(port, proc, what="server"):
    wait_until(lambda: port_open(port), proc, what)


def wait_for_file(path, proc, what="server"):
    """The text of the file `proc` writes (its port, say), stripped."""

    def read():
        if os.path.exists(path):
            with open(path) as f:
                return f.read().strip()
        return None

    return wait_until(read, proc, what)


def stop(proc):
    """SIGTERM, then SIGKILL if it does not end in time; nothing if it has
    ended already."""
    if proc and proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(STOP_TIMEOUT)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
