// Reading a tiled log: a mirror directory through a directory descriptor
// that no path may leave, or a server over http(s) with libcurl, bounded in
// size, time and redirects.
#include "tlog_fetch.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>

#include "cli.h"

namespace quenfold::cli::tlog {

std::string echo(const std::string& sent, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < sent.size() && i < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(sent[i]);
    out.push_back(c >= 0x20 && c < 0x7f ? static_cast<char>(c) : '?');
  }
  if (sent.size() > n) out += "...";
  return out;
}

namespace {

// ---- a mirror directory ------------------------------------------------

class DirFetcher final : public Fetcher {
 public:
  explicit DirFetcher(int dir) : dir_(dir) {}
  ~DirFetcher() override { close(dir_); }
  DirFetcher(const DirFetcher&) = delete;
  DirFetcher& operator=(const DirFetcher&) = delete;

  std::string kind() const override { return "file"; }

  Fetched get(const std::string& path, std::size_t cap) override {
    Fetched f;
    const int fd = open_beneath(path);
    if (fd < 0) {
      const int err = errno;
      f.missing = err == ENOENT;
      f.error = err == ELOOP || err == EXDEV ? "a symbolic link leading out of the log directory, or any "
                                               "symbolic link where links cannot be resolved safely"
                                             : std::strerror(err);
      return f;
    }
    struct stat st{};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      close(fd);
      f.error = "not a regular file";
      return f;
    }
    if (static_cast<std::uintmax_t>(st.st_size) > cap) {
      close(fd);
      f.error = "larger than " + size_text(cap) + " (" + std::to_string(st.st_size) + " bytes)";
      return f;
    }
    f.body.resize(static_cast<std::size_t>(st.st_size));
    std::size_t have = 0;
    for (;;) {
      // One byte past the size seen, so that a file that grew is noticed.
      if (have == f.body.size()) f.body.resize(have + 1);
      const ssize_t n = read(fd, f.body.data() + have, f.body.size() - have);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        f.error = std::strerror(errno);
        close(fd);
        return f;
      }
      if (n == 0) break;
      have += static_cast<std::size_t>(n);
      if (have > cap) {
        close(fd);
        f.error = "larger than " + size_text(cap);
        return f;
      }
    }
    close(fd);
    f.body.resize(have);
    f.ok = true;
    return f;
  }

 private:
  // Opens `path` below the directory: openat2 with RESOLVE_BENEATH keeps
  // every component, symbolic links included, inside it. Where openat2 is
  // not available, each component is opened with O_NOFOLLOW, refusing every
  // symbolic link. O_NONBLOCK keeps a FIFO from blocking the open; the
  // caller refuses anything that is not a regular file.
  int open_beneath(const std::string& path) const {
    open_how how{};
    how.flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    const long fd = syscall(SYS_openat2, dir_, path.c_str(), &how, sizeof how);
    if (fd >= 0 || (errno != ENOSYS && errno != EPERM)) return static_cast<int>(fd);
    int at = dir_;
    std::size_t start = 0;
    for (;;) {
      const std::size_t slash = path.find('/', start);
      const std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
      if (part.empty() || part == "." || part == "..") {
        if (at != dir_) close(at);
        errno = EXDEV;
        return -1;
      }
      const bool last = slash == std::string::npos;
      const int flags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | (last ? O_NONBLOCK : O_DIRECTORY);
      const int next = openat(at, part.c_str(), flags);
      const int err = errno;
      if (at != dir_) close(at);
      if (next < 0) {
        errno = err;
        return -1;
      }
      if (last) return next;
      at = next;
      start = slash + 1;
    }
  }

  int dir_;
};

// ---- http(s) -------------------------------------------------------------

struct Body {
  std::string data;
  std::size_t cap = 0;
  bool over = false;
};

std::size_t on_data(char* ptr, std::size_t size, std::size_t n, void* user) {
  auto* b = static_cast<Body*>(user);
  const std::size_t len = size * n;
  // Counted after decoding: a small gzip body that inflates past the cap
  // stops here, before it is held.
  if (len > b->cap - std::min(b->cap, b->data.size())) {
    b->over = true;
    return 0;  // aborts the transfer
  }
  b->data.append(ptr, len);
  return len;
}

struct Headers {
  std::string retry_after;
};

std::size_t on_header(char* ptr, std::size_t size, std::size_t n, void* user) {
  const std::size_t len = size * n;
  std::string line(ptr, len);
  constexpr std::string_view kName = "retry-after:";
  if (line.size() > kName.size()) {
    std::string lower = line.substr(0, kName.size());
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    if (lower == kName) {
      std::string v = line.substr(kName.size());
      v.erase(0, v.find_first_not_of(" \t"));
      v.erase(v.find_last_not_of(" \t\r\n") + 1);
      static_cast<Headers*>(user)->retry_after = v.substr(0, 32);
    }
  }
  return len;
}

struct Easy {
  CURL* h = curl_easy_init();
  ~Easy() {
    if (h != nullptr) curl_easy_cleanup(h);
  }
};

// Splits scheme://host[:port] off a URL, lower-cased, for the redirect rule.
std::string authority_of(const std::string& url) {
  const std::size_t scheme_end = url.find("://");
  if (scheme_end == std::string::npos) return "";
  const std::size_t end = url.find_first_of("/?#", scheme_end + 3);
  std::string a = url.substr(0, end);
  std::transform(a.begin(), a.end(), a.begin(), [](unsigned char c) { return std::tolower(c); });
  return a;
}

class HttpFetcher final : public Fetcher {
 public:
  HttpFetcher(std::string base, const FetchLimits& limits) : base_(std::move(base)), limits_(limits) {
    if (!base_.ends_with('/')) base_ += '/';
  }
  std::string kind() const override { return "http"; }

  Fetched get(const std::string& path, std::size_t cap) override {
    using Clock = std::chrono::steady_clock;
    const auto give_up = Clock::now() + limits_.deadline;
    auto wait = limits_.backoff;
    Fetched last;
    for (int attempt = 1;; ++attempt) {
      long retry_after = -1;
      bool retry = false;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(give_up - Clock::now());
      if (left.count() <= 0) {
        if (last.error.empty()) last.error = "deadline exceeded";
        return last;
      }
      last = once(base_ + path, cap, left, retry, retry_after);
      if (last.ok || !retry || attempt >= limits_.attempts) return last;
      auto pause = retry_after >= 0 ? std::chrono::milliseconds(std::chrono::seconds(std::min<long>(
                                          retry_after, limits_.max_retry_after.count())))
                                    : jittered(wait);
      if (Clock::now() + pause >= give_up) return last;
      std::this_thread::sleep_for(pause);
      wait *= 2;
    }
  }

 private:
  static std::chrono::milliseconds jittered(std::chrono::milliseconds base) {
    thread_local std::minstd_rand rng(std::random_device{}());
    std::uniform_int_distribution<long> d(0, base.count() / 2);
    return base + std::chrono::milliseconds(d(rng));
  }

  // One request, following redirects only to the same scheme and host.
  Fetched once(std::string url, std::size_t cap, std::chrono::milliseconds left, bool& retry, long& retry_after) {
    thread_local Easy easy;
    Fetched f;
    CURL* h = easy.h;
    if (h == nullptr) {
      f.error = "cannot start an http client";
      return f;
    }
    const std::string origin = authority_of(url);
    for (int hops = 0;; ++hops) {
      curl_easy_reset(h);
      Body body;
      body.cap = cap;
      Headers headers;
      char errbuf[CURL_ERROR_SIZE] = {0};
      curl_easy_setopt(h, CURLOPT_URL, url.c_str());
      curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
      curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
      curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
      curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "gzip, identity");
      curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, on_data);
      curl_easy_setopt(h, CURLOPT_WRITEDATA, &body);
      curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, on_header);
      curl_easy_setopt(h, CURLOPT_HEADERDATA, &headers);
      curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errbuf);
      curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(std::max<long long>(1, left.count())));
      curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, 10000L);
      curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(limits_.low_speed_bytes));
      curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, static_cast<long>(limits_.low_speed_time.count()));
      // A declared length past the cap is refused before the body is read;
      // a compressed body may declare a little more than it inflates to.
      curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(cap + 4096));
      curl_easy_setopt(h, CURLOPT_USERAGENT, "quenfold-verify");
      const CURLcode rc = curl_easy_perform(h);
      long status = 0;
      curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
      if (body.over) {
        f.error = "larger than " + size_text(cap);
        return f;
      }
      if (rc == CURLE_FILESIZE_EXCEEDED) {
        f.error = "larger than " + size_text(cap) + " (by its declared length)";
        return f;
      }
      if (rc != CURLE_OK) {
        f.error = std::string(curl_easy_strerror(rc)) + (errbuf[0] != 0 ? std::string(": ") + echo(errbuf, 200) : "");
        // A refused connection, a reset or a stalled response may pass; a
        // scheme or an encoding that is not allowed will not.
        retry = rc != CURLE_UNSUPPORTED_PROTOCOL && rc != CURLE_BAD_CONTENT_ENCODING && rc != CURLE_URL_MALFORMAT;
        return f;
      }
      if (status >= 300 && status < 400) {
        char* target = nullptr;
        curl_easy_getinfo(h, CURLINFO_REDIRECT_URL, &target);
        const std::string next = target != nullptr ? target : "";
        if (next.empty() || authority_of(next) != origin) {
          f.error = "redirect to another host or scheme refused (" + echo(next) + ")";
          return f;
        }
        if (hops >= 4) {
          f.error = "too many redirects";
          return f;
        }
        url = next;
        continue;
      }
      if (status == 200) {
        f.ok = true;
        f.body = std::move(body.data);
        return f;
      }
      f.missing = status == 404;
      f.error = "HTTP " + std::to_string(status) + (body.data.empty() ? "" : ": " + echo(body.data));
      retry = status == 429 || status >= 500;
      if (retry && !headers.retry_after.empty() &&
          headers.retry_after.find_first_not_of("0123456789") == std::string::npos &&
          headers.retry_after.size() <= 6)
        retry_after = std::stol(headers.retry_after);
      return f;
    }
  }

  std::string base_;
  FetchLimits limits_;
};

}  // namespace

std::unique_ptr<Fetcher> open_log(const std::string& location, const FetchLimits& limits) {
  const auto scheme_end = location.find("://");
  if (scheme_end != std::string::npos) {
    std::string scheme = location.substr(0, scheme_end);
    std::transform(scheme.begin(), scheme.end(), scheme.begin(), [](unsigned char c) { return std::tolower(c); });
    if (scheme != "http" && scheme != "https")
      throw UsageError("--log: only http and https URLs, or a directory (not " + echo(scheme, 16) + ")");
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    return std::make_unique<HttpFetcher>(location, limits);
  }
  const int dir = open(location.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) throw UsageError("--log: cannot open the directory " + location + ": " + std::strerror(errno));
  return std::make_unique<DirFetcher>(dir);
}

}  // namespace quenfold::cli::tlog
