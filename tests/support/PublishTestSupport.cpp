#include "tests/support/PublishTestSupport.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "soap/publish/WSDLHTMLPublish.h"
#include "soap/publish/WSDLPublishUnit.h"
#include "tests/support/CGIRun.h"
#include "web/CGIRequest.h"
#include "web/CGIResponse.h"

namespace vvtest {

using namespace vv;
namespace fs = std::filesystem;

std::vector<std::string> CGIEnv(const std::string &pathInfo, const std::string &query,
                                const std::vector<std::string> &extra) {
  std::vector<std::string> env = {
      "GATEWAY_INTERFACE=CGI/1.1",   "REQUEST_METHOD=GET",    "SERVER_PROTOCOL=HTTP/1.1",
      "HTTP_HOST=localhost",         "SERVER_NAME=localhost", "SERVER_PORT=8080",
      "SCRIPT_NAME=/cgi-bin/VEVUDE", "PATH_INFO=" + pathInfo, "QUERY_STRING=" + query};
  for (const std::string &e : extra) {
    size_t eq = e.find('=');
    std::string name = e.substr(0, eq);
    for (size_t i = 0; i < env.size(); ++i)
      if (env[i].compare(0, name.size() + 1, name + "=") == 0) env.erase(env.begin() + long(i--));
    if (eq != std::string::npos) env.push_back(e);
  }
  return env;
}

TAnswer DispatchInProcess(const std::vector<std::string> &env, bool serviceInfo,
                          const std::function<void(TWSDLHTMLPublish &)> &setup) {
  InitProgramUnits();
  TCGIHost host;
  host.Env = TCGIEnvironment(env);
  host.Read = [](void *, int64_t) -> int64_t { return 0; };
  host.Write = [](const void *, int64_t n) -> int64_t { return n; };
  TCGIRequest request(host);
  TCGIResponse response(&request);
  TWSDLHTMLPublish publisher;
  if (setup) setup(publisher);
  if (serviceInfo) {
    bool handled = false;
    publisher.ServiceInfo(nullptr, &request, &response, handled);
    if (!handled) throw std::runtime_error("ServiceInfo did not handle the request");
  } else if (!publisher.DispatchRequest(nullptr, &request, &response)) {
    throw std::runtime_error("DispatchRequest did not handle the request");
  }
  TAnswer a;
  a.Status = response.StatusCode();
  a.ContentType = response.ContentType();
  a.HasContentType = !a.ContentType.empty();
  a.Body = response.Content();
  return a;
}

TProgramCopy::TProgramCopy(const std::string &exeName) {
  std::string tmpl = (fs::temp_directory_path() / "vv_publish_XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  FDir = tmpl;
  FExe = FDir + "/" + exeName;
  fs::copy_file(TEST_PROGRAM, FExe);
  fs::permissions(FExe, fs::perms::owner_all);
}

TProgramCopy::~TProgramCopy() {
  std::error_code ec;
  fs::remove_all(FDir, ec);
}

void TProgramCopy::WriteFile(const std::string &name, const std::string &content) const {
  std::ofstream(FDir + "/" + name, std::ios::binary) << content;
}

namespace {

// The status, content type and body of a CGI output.
TAnswer ParseCGIOutput(const std::string &out) {
  TAnswer a;
  size_t end = out.find("\r\n\r\n");
  if (end == std::string::npos) throw std::runtime_error("no header block in: " + out);
  std::istringstream headers(out.substr(0, end));
  std::string line;
  while (std::getline(headers, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("Status: ", 0) == 0) a.Status = std::atoi(line.c_str() + 8);
    if (line.rfind("Content-Type: ", 0) == 0) {
      a.ContentType = line.substr(14);
      a.HasContentType = true;
    }
  }
  a.Body = out.substr(end + 4);
  return a;
}

} // namespace

TAnswer TProgramCopy::Run(const std::vector<std::string> &env, const std::string &body) const {
  TCGIRunResult r = RunCGI(FExe, env, body, FDir);
  if (r.ExitCode != 0) throw std::runtime_error("the program did not end normally");
  return ParseCGIOutput(r.Out);
}

std::string Expected(const std::string &file, std::map<std::string, std::string> vars) {
  // The style lines every page head shares.
  if (file != "styles.part") vars.emplace("STYLES", Expected("styles.part", {}));
  // The test program's own texts first, then the publisher's shared parts.
  std::ifstream f(std::string(TEST_SOURCE_DIR) + "/expected/" + file, std::ios::binary);
  if (!f)
    f.open(std::string(VEVUDE_SOURCE_DIR) + "/tests/soap/publish/expected/" + file,
           std::ios::binary);
  if (!f) throw std::runtime_error("missing expected file " + file);
  std::stringstream ss;
  ss << f.rdbuf();
  std::string text;
  for (char c : ss.str()) {
    if (c == '\n') text += '\r';
    text += c;
  }
  for (const auto &[key, value] : vars) {
    std::string k = "@" + key + "@";
    for (size_t p = text.find(k); p != std::string::npos; p = text.find(k, p + value.size()))
      text.replace(p, k.size(), value);
  }
  return text;
}

std::string TestProgramTitle() { return PublishProcessValues().PageTitle; }

} // namespace vvtest
