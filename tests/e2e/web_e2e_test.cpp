// The CGI front end as a real process: exact bytes on standard output for
// a given environment and standard input, the exit status, and one round
// through a real lighttpd on loopback.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/CGIRun.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr auto kServerStartTimeout = std::chrono::seconds(15);

std::string Page(const std::string &status, const std::string &type, const std::string &body) {
  return "Status: " + status + "\r\n" + (type.empty() ? "" : "Content-Type: " + type + "\r\n") +
         (body.empty() ? "" : "Content-Length: " + std::to_string(body.size()) + "\r\n") +
         "Content:\r\n\r\n" + body;
}

TEST(WebCGIProcess, AnswersByteForByte) {
  const std::string appError = "<html><body><h1>Internal Application Error</h1>\r\n"
                               "<p>&#39;&lt;x&gt;&#39; is not a number\r\n"
                               "<p><hr width=\"100%\"><i>/raise</i></body></html>";
  const std::string tooLarge = "<html><title>Request Entity Too Large 413</title>\r\n"
                               "<h1>Request Entity Too Large 413</h1><hr>\r\n"
                               "The request body may not exceed 16777216 bytes.</html>\r\n";
  const struct {
    const char *Name;
    std::vector<std::string> Env;
    std::string Input;
    std::string Expected;
  } cases[] = {
      {"default page",
       {"SERVER_PROTOCOL=HTTP/1.1", "REQUEST_METHOD=GET", "PATH_INFO=/"},
       "",
       Page("200 OK", "text/html", "page")},
      {"no path",
       {"SERVER_PROTOCOL=HTTP/1.1", "REQUEST_METHOD=GET"},
       "",
       Page("200 OK", "text/html", "page")},
      {"body bounded by CONTENT_LENGTH",
       {"SERVER_PROTOCOL=HTTP/1.1", "REQUEST_METHOD=POST", "PATH_INFO=/echo", "CONTENT_LENGTH=5"},
       "hello world",
       Page("200 OK", "text/plain", "hello")},
      {"short body keeps its announced length",
       {"SERVER_PROTOCOL=HTTP/1.1", "REQUEST_METHOD=POST", "PATH_INFO=/echo", "CONTENT_LENGTH=10"},
       "abcd",
       Page("200 OK", "text/plain", std::string("abcd\0\0\0\0\0\0", 10))},
      {"dispatcher component with SOAPAction",
       {"SERVER_PROTOCOL=HTTP/1.1", "REQUEST_METHOD=POST", "PATH_INFO=/SOAP/x",
        "HTTP_SOAPACTION=\"urn:a#b\"", "CONTENT_LENGTH=3"},
       "<e>",
       Page("200 OK", "text/xml", "<action>\"urn:a#b\"</action><e>")},
      {"GET under /soap goes to the default action",
       {"SERVER_PROTOCOL=HTTP/1.1", "REQUEST_METHOD=GET", "PATH_INFO=/soap"},
       "",
       Page("200 OK", "text/html", "page")},
      {"without SERVER_PROTOCOL only the body", {"REQUEST_METHOD=GET"}, "", "page"},
      {"handler error",
       {"SERVER_PROTOCOL=HTTP/1.1", "PATH_INFO=/raise"},
       "",
       Page("500 Internal Server Error", "text/html", appError)},
      {"oversized body",
       {"SERVER_PROTOCOL=HTTP/1.1", "REQUEST_METHOD=POST", "PATH_INFO=/echo",
        "CONTENT_LENGTH=999999999999"},
       "x",
       "Status: 413 Request Entity Too Large\r\nContent-Type: text/html\r\nContent-Length: " +
           std::to_string(tooLarge.size()) + "\r\nContent:\r\n\r\n" + tooLarge},
      {"bad query",
       {"SERVER_PROTOCOL=HTTP/1.1", "PATH_INFO=/env", "QUERY_STRING=intf=%zz"},
       "",
       Page("500 Internal Server Error", "text/plain",
            "<html><body><h1>Internal Application Error</h1>\r\n"
            "<p>Invalid URL encoded character (%zz) at position 6\r\n"
            "<p><hr width=\"100%\"><i>/env</i></body></html>")},
  };
  for (const auto &c : cases) {
    vvtest::TCGIRunResult r = vvtest::RunCGI(WEB_TEST_CGI, c.Env, c.Input);
    EXPECT_EQ(r.Out, c.Expected) << c.Name;
    EXPECT_EQ(r.ExitCode, 0) << c.Name;
  }
}

// ---- through lighttpd --------------------------------------------------

int FreeLoopbackPort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr *>(&a), &len);
  close(s);
  return ntohs(a.sin_port);
}

int ConnectLoopback(int port) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(uint16_t(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0) return s;
  close(s);
  return -1;
}

// One HTTP/1.0 exchange; the server closes the connection after answering.
std::string Exchange(int port, const std::string &request) {
  int s = ConnectLoopback(port);
  if (s < 0) return "";
  timeval tv{10, 0};
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  std::string reply;
  if (send(s, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size())) {
    char buf[65536];
    ssize_t n;
    while ((n = recv(s, buf, sizeof buf, 0)) > 0) reply.append(buf, size_t(n));
  }
  close(s);
  return reply;
}

std::string Body(const std::string &reply) {
  size_t p = reply.find("\r\n\r\n");
  return p == std::string::npos ? "" : reply.substr(p + 4);
}

class Lighttpd : public ::testing::Test {
protected:
  void SetUp() override {
    if (std::string(LIGHTTPD_BINARY).empty() || !fs::exists(LIGHTTPD_BINARY))
      GTEST_SKIP() << "lighttpd is not installed";
    char tmpl[] = "/tmp/vevude-web-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    Dir = tmpl;
    fs::create_directories(Dir / "htdocs");
    fs::create_directories(Dir / "site");
    // The program is reached through a link in the folder that is to be its
    // working directory.
    fs::create_symlink(WEB_TEST_CGI, Dir / "site" / "VEVUDE");
    Port = FreeLoopbackPort();
    std::ofstream(Dir / "lighttpd.conf")
        << "server.document-root = \"" << (Dir / "htdocs").string() << "\"\n"
        << "server.bind = \"127.0.0.1\"\n"
        << "server.port = " << Port << "\n"
        << "server.errorlog = \"" << (Dir / "error.log").string() << "\"\n"
        << "server.modules = (\"mod_alias\", \"mod_cgi\")\n"
        << "alias.url = (\"/VEVUDE\" => \"" << (Dir / "site" / "VEVUDE").string() << "\")\n"
        << "$HTTP[\"url\"] =~ \"^/VEVUDE(/|$)\" { cgi.assign = (\"\" => \"\") }\n";
    Pid = fork();
    if (Pid == 0) {
      int devnull = open("/dev/null", O_RDWR);
      dup2(devnull, 0), dup2(devnull, 1), dup2(devnull, 2);
      std::string conf = (Dir / "lighttpd.conf").string();
      execl(LIGHTTPD_BINARY, LIGHTTPD_BINARY, "-D", "-f", conf.c_str(), nullptr);
      _exit(127);
    }
    auto deadline = Clock::now() + kServerStartTimeout;
    while (Clock::now() < deadline) {
      int s = ConnectLoopback(Port);
      if (s >= 0) {
        close(s);
        return;
      }
      if (waitpid(Pid, nullptr, WNOHANG) == Pid) {
        Pid = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    FAIL() << "lighttpd did not start";
  }
  void TearDown() override {
    if (Pid > 0) {
      kill(Pid, SIGTERM);
      waitpid(Pid, nullptr, 0);
    }
    if (!Dir.empty()) fs::remove_all(Dir);
  }
  fs::path Dir;
  int Port = 0;
  pid_t Pid = -1;
};

TEST_F(Lighttpd, ServesTheProgramUnderItsPath) {
  std::string reply = Exchange(Port, "GET /VEVUDE/env/wsdl/IDepot?intf=IDepot&types=1 HTTP/1.0\r\n"
                                     "Host: 127.0.0.1\r\n\r\n");
  EXPECT_EQ(reply.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << reply;
  EXPECT_EQ(Body(reply), "method=GET\npath=/env/wsdl/IDepot\nscript=/VEVUDE\nintf=IDepot\ncwd=" +
                             fs::canonical(Dir / "site").string() + "\n");

  std::string post = Exchange(Port, "POST /VEVUDE/soap/x HTTP/1.0\r\nHost: 127.0.0.1\r\n"
                                    "SOAPAction: \"urn:a#b\"\r\nContent-Type: text/xml\r\n"
                                    "Content-Length: 4\r\n\r\n<e/>");
  EXPECT_EQ(post.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << post;
  EXPECT_NE(post.find("Content-Type: text/xml\r\n"), std::string::npos) << post;
  EXPECT_EQ(Body(post), "<action>\"urn:a#b\"</action><e/>");

  std::string error = Exchange(Port, "GET /VEVUDE/raise HTTP/1.0\r\n\r\n");
  EXPECT_EQ(error.rfind("HTTP/1.0 500 Internal Server Error\r\n", 0), 0u) << error;
  EXPECT_NE(Body(error).find("<h1>Internal Application Error</h1>"), std::string::npos);
}

} // namespace
