// Every limit of the service-description publisher, in one place.
#pragma once

#include <cstdint>

namespace vv {

// A port file larger than this is refused rather than read: it holds a few
// port addresses, and a request must not make the publisher read a huge file.
inline constexpr int64_t kMaxPortFileSize = 64 * 1024;
// Generated namespace prefixes tried before giving up (ns1..nsN): a WSDL
// declares one prefix per namespace it uses, a handful, so running out
// means a fault in the generator, which is reported rather than looped on.
inline constexpr int kMaxGeneratedPrefixes = 10000;

} // namespace vv
