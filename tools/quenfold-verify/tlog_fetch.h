// Reading a tiled log's files: from a local mirror directory or over
// http(s). Every read is bounded before it is whole, so a hostile server or
// a device in a mirror cannot make the tool hold more than a tile's format
// allows.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace quenfold::cli::tlog {

// What a read returns: the bytes, or why there are none. `missing` is a
// file or resource that is not there (404, ENOENT), which a caller may
// treat differently from a transport failure.
struct Fetched {
  bool ok = false;
  bool missing = false;
  std::string body;
  std::string error;
};

struct FetchLimits {
  std::chrono::seconds deadline{60};     // per request, all retries included
  std::uint64_t low_speed_bytes = 1024;  // a response slower than this...
  std::chrono::seconds low_speed_time{15};  // ...for this long is abandoned
  int attempts = 4;                      // tries of a request that failed in a way worth retrying
  std::chrono::milliseconds backoff{250};  // the first wait; doubled after each try
  std::chrono::seconds max_retry_after{30};  // the longest Retry-After honoured
};

class Fetcher {
 public:
  virtual ~Fetcher() = default;
  // `path` is relative to the log's prefix ("checkpoint", "tile/0/000").
  // A body larger than `cap` bytes (decoded, when the server compressed
  // it) is refused as soon as it is seen to be larger. Safe to call from
  // several threads at once.
  virtual Fetched get(const std::string& path, std::size_t cap) = 0;
  // "file" or "http": how the log is read, for the summary.
  virtual std::string kind() const = 0;
};

// `location` is an http:// or https:// URL, or a directory. Throws
// UsageError for a location that is neither (another scheme, a directory
// that cannot be opened).
std::unique_ptr<Fetcher> open_log(const std::string& location, const FetchLimits& limits);

// At most `n` bytes of what a server sent, with anything that is not
// printable ASCII shown as '?': an error message never carries more.
std::string echo(const std::string& sent, std::size_t n = 64);

}  // namespace quenfold::cli::tlog
