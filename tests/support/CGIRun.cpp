#include "tests/support/CGIRun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

namespace vvtest {

namespace {

using Clock = std::chrono::steady_clock;

// Long enough for a sanitized build on a busy machine.
constexpr auto kProcessTimeout = std::chrono::seconds(20);

[[noreturn]] void ExecChild(const std::string &program, const std::vector<std::string> &env,
                            const std::string &dir, int in, int out) {
  dup2(in, 0);
  dup2(out, 1);
  if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(126);
  std::vector<char *> envp;
  for (const std::string &e : env) envp.push_back(const_cast<char *>(e.c_str()));
  envp.push_back(nullptr);
  char *argv[] = {const_cast<char *>(program.c_str()), nullptr};
  execve(program.c_str(), argv, envp.data());
  _exit(127);
}

// Writes `input` and reads the output at the same time, so that neither
// side can block the other on a full pipe.
std::string Exchange(int in, int out, const std::string &input, Clock::time_point deadline) {
  std::string output;
  size_t sent = 0;
  fcntl(in, F_SETFL, O_NONBLOCK);
  if (input.empty()) close(in), in = -1;
  for (;;) {
    pollfd fds[2] = {{out, POLLIN, 0}, {in, POLLOUT, 0}};
    if (poll(fds, in >= 0 ? 2 : 1, 200) < 0 || Clock::now() > deadline) break;
    if (in >= 0 && (fds[1].revents & (POLLOUT | POLLERR | POLLHUP))) {
      ssize_t n = write(in, input.data() + sent, input.size() - sent);
      if (n > 0) sent += size_t(n);
      if (n < 0 || sent == input.size()) close(in), in = -1;
    }
    if (fds[0].revents & (POLLIN | POLLHUP)) {
      char buf[65536];
      ssize_t n = read(out, buf, sizeof buf);
      if (n <= 0) break;
      output.append(buf, size_t(n));
    }
  }
  if (in >= 0) close(in);
  return output;
}

} // namespace

TCGIRunResult RunCGI(const std::string &program, const std::vector<std::string> &env,
                     const std::string &input, const std::string &dir) {
  int in[2], out[2];
  if (pipe(in) != 0) return {};
  if (pipe(out) != 0) {
    close(in[0]), close(in[1]);
    return {};
  }
  pid_t pid = fork();
  if (pid == 0) {
    close(in[1]), close(out[0]);
    ExecChild(program, env, dir, in[0], out[1]);
  }
  close(in[0]);
  close(out[1]);
  signal(SIGPIPE, SIG_IGN); // the child may leave its input unread
  auto deadline = Clock::now() + kProcessTimeout;
  TCGIRunResult r;
  r.Out = Exchange(in[1], out[0], input, deadline);
  close(out[0]);
  if (Clock::now() > deadline) kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  r.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::vector<std::string> WithSanitizerOptions(std::vector<std::string> env) {
  for (const char *name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
    if (const char *value = getenv(name)) env.push_back(std::string(name) + "=" + value);
  return env;
}

std::vector<std::string> PostEnv(const std::string &path, size_t bodySize,
                                 const std::vector<std::string> &extra) {
  std::vector<std::string> env = {"REQUEST_METHOD=POST", "SERVER_PROTOCOL=HTTP/1.1",
                                  "PATH_INFO=" + path,
                                  "CONTENT_LENGTH=" + std::to_string(bodySize)};
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

} // namespace vvtest
