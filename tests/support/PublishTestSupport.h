// Shared pieces of the publisher tests and the relay's page checks: the
// registrations of the program, requests run in-process against a
// publisher, the program run as a CGI process, and the expected texts kept
// beside the tests.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace vv {
class TWSDLHTMLPublish;
}

namespace vvtest {

// Status, content type and body of one answer.
struct TAnswer {
  int Status = 0;
  std::string ContentType;
  std::string Body;
  bool HasContentType = false; // CGI answers: was a Content-Type header written
};

// Registers what the program run by the tests registers, in its order
// (idempotent; each test program defines it).
void InitProgramUnits();

// Environment for a GET on `pathInfo` with host "localhost", port 8080 and
// script "/cgi-bin/VEVUDE"; `extra` entries ("NAME=value") are appended,
// and an entry "NAME" without "=" removes NAME.
std::vector<std::string> CGIEnv(const std::string &pathInfo, const std::string &query = "",
                                const std::vector<std::string> &extra = {});
inline const char *kBase = "http://localhost:8080/cgi-bin/VEVUDE";

// The publisher's DispatchRequest, or ServiceInfo when `serviceInfo`, in
// this process.
// `setup`, when given, adjusts the publisher first.
TAnswer DispatchInProcess(const std::vector<std::string> &env, bool serviceInfo = false,
                          const std::function<void(vv::TWSDLHTMLPublish &)> &setup = {});

// A private folder holding a copy of the test program (TEST_PROGRAM) under
// `exeName`, removed with the object.
class TProgramCopy {
public:
  explicit TProgramCopy(const std::string &exeName = "VEVUDE");
  ~TProgramCopy();
  const std::string &Dir() const { return FDir; }
  const std::string &Exe() const { return FExe; }
  void WriteFile(const std::string &name, const std::string &content) const;
  // Runs one request; the answer as the CGI output gives it.
  TAnswer Run(const std::vector<std::string> &env, const std::string &body = "") const;

private:
  std::string FDir, FExe;
};

// An expected text from the test program's expected/ folder, with "\n" turned into CR LF and the
// placeholders replaced ("@STYLES@" stands for the style lines of the page
// heads, from styles.part).
std::string Expected(const std::string &file, std::map<std::string, std::string> vars);
// The page title of this test program (its file name).
std::string TestProgramTitle();

} // namespace vvtest
