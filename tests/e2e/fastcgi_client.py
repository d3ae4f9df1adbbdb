#!/usr/bin/python3
"""A minimal FastCGI client for the tests: sends one responder request
(parameters, body) over a Unix or TCP socket and reads the answer.

It writes the records itself so that tests can also send what a web server
never would: too large parameters, a body cut short, a connection closed
before the answer."""
import socket
import struct

BEGIN_REQUEST, ABORT_REQUEST, END_REQUEST, PARAMS, STDIN, STDOUT, STDERR = 1, 2, 3, 4, 5, 6, 7
RESPONDER = 1
REQUEST_ID = 1
TIMEOUT = 60  # seconds for one exchange


def record(rtype, content=b"", request_id=REQUEST_ID):
    out = []
    for start in range(0, max(len(content), 1), 65535):
        chunk = content[start:start + 65535]
        pad = -len(chunk) % 8
        out += [struct.pack(">BBHHBB", 1, rtype, request_id, len(chunk), pad, 0), chunk, b"\0" * pad]
    return b"".join(out)


def length(n):
    return struct.pack(">B", n) if n < 128 else struct.pack(">I", n | 0x80000000)


def pairs(params):
    out = []
    for name, value in params.items():
        name = name.encode() if isinstance(name, str) else name
        value = value.encode() if isinstance(value, str) else value
        out += [length(len(name)), length(len(value)), name, value]
    return b"".join(out)


def request_bytes(params, body=b"", keep=False, close_stdin=True):
    out = record(BEGIN_REQUEST, struct.pack(">HB5x", RESPONDER, 1 if keep else 0))
    if params:
        out += record(PARAMS, pairs(params))
    out += record(PARAMS)
    if body:
        out += record(STDIN, body)
    if close_stdin:
        out += record(STDIN)
    return out


def connect(address):
    if isinstance(address, tuple):
        s = socket.create_connection(address, timeout=TIMEOUT)
    else:
        s = socket.socket(socket.AF_UNIX)
        s.settimeout(TIMEOUT)
        try:
            s.connect(address)
        except OSError:
            s.close()
            raise
    return s


def read_answer(sock):
    """(stdout bytes, stderr bytes, app status); raises EOFError when the
    connection ends before the end-of-request record."""
    buf, out, err = b"", b"", b""
    while True:
        while len(buf) >= 8:
            _, rtype, _, clen, pad, _ = struct.unpack(">BBHHBB", buf[:8])
            if len(buf) < 8 + clen + pad:
                break
            content, buf = buf[8:8 + clen], buf[8 + clen + pad:]
            if rtype == STDOUT:
                out += content
            elif rtype == STDERR:
                err += content
            elif rtype == END_REQUEST:
                return out, err, struct.unpack(">I", content[:4])[0]
        data = sock.recv(65536)
        if not data:
            raise EOFError("connection closed before the end of the request")
        buf += data


def call(address, params, body=b""):
    """One request on a new connection: (stdout, stderr, app status)."""
    with connect(address) as s:
        s.sendall(request_bytes(params, body))
        return read_answer(s)


def cgi_params(method, path, body=b"", extra=None, script="/VEVUDE"):
    """The variables a web server sets for a request to the program."""
    params = {"GATEWAY_INTERFACE": "CGI/1.1", "REQUEST_METHOD": method, "SCRIPT_NAME": script,
              "PATH_INFO": path, "QUERY_STRING": "", "SERVER_NAME": "127.0.0.1",
              "SERVER_PORT": "8080", "SERVER_PROTOCOL": "HTTP/1.1", "HTTP_HOST": "127.0.0.1:8080",
              "REMOTE_ADDR": "127.0.0.1"}
    if body:
        params.update({"CONTENT_LENGTH": str(len(body)), "CONTENT_TYPE": "text/xml"})
    params.update(extra or {})
    return params
