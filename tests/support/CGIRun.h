// Runs a CGI program as a real process: exactly the given environment, the
// input on standard input, a working folder; the bytes it writes on
// standard output and its exit status. Shared by every test that starts
// a CGI program.
#pragma once

#include <string>
#include <vector>

namespace vvtest {

struct TCGIRunResult {
  std::string Out;
  int ExitCode = -1; // -1 when it did not end by itself
};

// `dir` empty keeps the working folder. A program still running after the
// time limit is killed (ExitCode -1). Input the program leaves unread is
// dropped.
TCGIRunResult RunCGI(const std::string &program, const std::vector<std::string> &env,
                     const std::string &input = "", const std::string &dir = "");

// The environment of a POST of `bodySize` bytes to `path`, then `extra`.
std::vector<std::string> PostEnv(const std::string &path, size_t bodySize,
                                 const std::vector<std::string> &extra = {});

// `env` with the sanitizer settings of the test run added, so that a
// sanitized child reports like its parent.
std::vector<std::string> WithSanitizerOptions(std::vector<std::string> env);

} // namespace vvtest
