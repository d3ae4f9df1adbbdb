// How the process was started: by a web server (CGI or FastCGI) or by a
// person at a shell. A web server may hand over command-line arguments of
// its own (some pass a query string as arguments), so a program reads its
// options only when no web server started it.
#pragma once

namespace vv {

// True when `Fd` is a socket without a peer: the listening socket that a
// FastCGI server hands over as standard input (getpeername fails with
// ENOTCONN). A pipe, a file, a terminal or a connected socket is not.
bool IsFastCGIListenSocket(int fd);

// True when GATEWAY_INTERFACE is set (a CGI server sets it) or standard
// input is a FastCGI listening socket.
bool StartedByWebServer();

} // namespace vv
