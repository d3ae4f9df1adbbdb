// Every size limit of the relay, in one place.
#pragma once

#include <cstddef>

namespace vv {

// Longest settings value returned. A longer value is cut, not refused: an
// address, path, user name or password never comes near it, and existing
// config.ini files rely on the cut falling exactly here. It is counted in
// UTF-16 code units, not bytes or characters, because that is how those
// files' values have always been measured: a character outside the Basic
// Multilingual Plane counts twice, so the same file gives the same value.
inline constexpr size_t kMaxIniValueLength = 2047;
// A settings file is read no further than this: config.ini holds nine short
// values, and a file that a mistake made huge must not cost a request more.
inline constexpr size_t kMaxIniFileSize = 1024 * 1024;
// Bytes of a message kept in a failure line (after masking): enough for any
// real error, while an upstream fault may repeat megabytes into the web
// server's error log.
inline constexpr size_t kMaxFailureMessage = 4096;
// Bytes of a fixed note kept in its line: notes are short texts of the
// relay's own, and the line is built on the stack without allocating.
inline constexpr size_t kMaxRelayNote = 400;

} // namespace vv
