// Reading a small settings file that an operator keeps beside the program
// (config.ini, the port file). Such a file may be anything a path can name:
// a FIFO or a device would block a read, or never end, so only a regular
// file is read, and nothing on the way can block.
#pragma once

#include <cstddef>
#include <string>

namespace vv {

enum class TSettingsFileState {
  Read,      // a regular file; its bytes are in `data`
  Missing,   // absent or unreadable
  NotRegular // a FIFO, directory, device, socket...: not opened for reading
};

// Reads at most `limit` bytes of the file at `path` into `data` (replacing
// it); `truncated` tells whether the file held more. Cost follows the file's
// size, not the limit.
TSettingsFileState ReadSettingsFile(const std::string &path, size_t limit, std::string &data,
                                    bool &truncated);

} // namespace vv
