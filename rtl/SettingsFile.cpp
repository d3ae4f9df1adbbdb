#include "rtl/SettingsFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "rtl/RtlLimits.h"

namespace vv {

namespace {

class TFd {
public:
  explicit TFd(int fd) : FFd(fd) {}
  ~TFd() {
    if (FFd >= 0) ::close(FFd);
  }
  TFd(const TFd &) = delete;
  TFd &operator=(const TFd &) = delete;
  int Get() const { return FFd; }

private:
  int FFd;
};

} // namespace

TSettingsFileState ReadSettingsFile(const std::string &path, size_t limit, std::string &data,
                                    bool &truncated) {
  data.clear();
  truncated = false;
  struct stat before;
  if (path.empty() || ::stat(path.c_str(), &before) != 0) return TSettingsFileState::Missing;
  if (!S_ISREG(before.st_mode)) return TSettingsFileState::NotRegular;
  // Non-blocking open: the path may have become a FIFO since the stat.
  TFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd.Get() < 0) return TSettingsFileState::Missing;
  struct stat st;
  if (::fstat(fd.Get(), &st) != 0) return TSettingsFileState::Missing;
  if (!S_ISREG(st.st_mode)) return TSettingsFileState::NotRegular;

  // One byte beyond the limit tells whether there is more.
  size_t capacity = std::min(size_t(std::max<off_t>(st.st_size, 0)), limit) + 1;
  data.resize(capacity);
  size_t got = 0;
  for (;;) {
    if (got == data.size()) {
      if (data.size() > limit) break;
      data.resize(std::min(data.size() + kSettingsReadStep, limit + 1));
    }
    size_t want = data.size() - got;
    ssize_t n = ::read(fd.Get(), data.data() + got, want);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break; // an error mid-way keeps what was read
    got += size_t(n);
    // A regular file gives less than asked only at its end: no read more
    // to learn that.
    if (size_t(n) < want) break;
  }
  truncated = got > limit;
  data.resize(std::min(got, limit));
  return TSettingsFileState::Read;
}

} // namespace vv
