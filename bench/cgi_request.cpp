// Whole requests through the executable, as the web server runs them: one
// process per request, so these figures include start-up and exit.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

extern char **environ;

namespace {

struct CgiRun {
  std::vector<std::string> env;
  std::string body;
};

// Runs the program once with `run.env` and `run.body` on standard input;
// the answer is read and dropped. Returns the bytes answered.
size_t RunOnce(const CgiRun &run) {
  int in[2], out[2];
  if (pipe(in) != 0 || pipe(out) != 0) std::abort();
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in[0], 0);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_addclose(&fa, in[1]);
  posix_spawn_file_actions_addclose(&fa, out[0]);
  std::vector<char *> envp;
  for (auto &e : run.env) envp.push_back(const_cast<char *>(e.c_str()));
  envp.push_back(nullptr);
  char *argv[] = {const_cast<char *>(VEVUDE_BINARY), nullptr};
  pid_t pid;
  if (posix_spawn(&pid, VEVUDE_BINARY, &fa, nullptr, argv, envp.data()) != 0) std::abort();
  posix_spawn_file_actions_destroy(&fa);
  close(in[0]);
  close(out[1]);
  if (!run.body.empty() && write(in[1], run.body.data(), run.body.size()) < 0) std::abort();
  close(in[1]);
  size_t total = 0;
  char buf[65536];
  ssize_t n;
  while ((n = read(out[0], buf, sizeof buf)) > 0) total += size_t(n);
  close(out[0]);
  int status;
  waitpid(pid, &status, 0);
  return total;
}

std::vector<std::string> BaseEnv(const char *method, const char *path) {
  return {std::string("REQUEST_METHOD=") + method,
          std::string("PATH_INFO=") + path,
          "SERVER_NAME=127.0.0.1",
          "SERVER_PORT=8080",
          "SCRIPT_NAME=/VEVUDE/VEVUDE",
          "SERVER_PROTOCOL=HTTP/1.1",
          "GATEWAY_INTERFACE=CGI/1.1"};
}

void BM_ServicePage(benchmark::State &state) {
  CgiRun run{BaseEnv("GET", "/"), ""};
  for (auto _ : state) benchmark::DoNotOptimize(RunOnce(run));
}

void BM_Wsdl(benchmark::State &state) {
  CgiRun run{BaseEnv("GET", "/wsdl/IDRUX"), ""};
  for (auto _ : state) benchmark::DoNotOptimize(RunOnce(run));
}

// A SOAP call whose relay finds no config.ini (the bench runs in its build
// folder): the full server path without an upstream exchange.
void BM_SoapCallWithoutUpstream(benchmark::State &state) {
  std::string body =
      "<?xml version=\"1.0\"?><SOAP-ENV:Envelope "
      "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"><SOAP-ENV:Body>"
      "<NS1:GetFlightsOpSoap xmlns:NS1=\"urn:uDRUXIntf-IDRUX\"><Airport>ABC</Airport>"
      "</NS1:GetFlightsOpSoap></SOAP-ENV:Body></SOAP-ENV:Envelope>";
  CgiRun run{BaseEnv("POST", "/soap/IDRUX"), body};
  const std::string extra[] = {"CONTENT_TYPE=text/xml",
                               "CONTENT_LENGTH=" + std::to_string(body.size()),
                               "HTTP_SOAPACTION=\"urn:uDRUXIntf-IDRUX#GetFlightsOpSoap\""};
  run.env.insert(run.env.end(), std::begin(extra), std::end(extra));
  for (auto _ : state) benchmark::DoNotOptimize(RunOnce(run));
}

} // namespace

BENCHMARK(BM_ServicePage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Wsdl)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SoapCallWithoutUpstream)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
