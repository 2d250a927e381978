// The session's lines, a window at a time, in bounded memory: a stream is
// read in blocks into one buffer that keeps only the window being gathered
// and the start of the next line, and a line longer than kMaxLineBytes is
// discarded as it is read.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "monitor.h"

namespace quenfold::cli::monitor {
namespace {

constexpr std::size_t kBlock = std::size_t{1} << 16;

bool blank(std::string_view line) { return line.find_first_not_of(" \t\r") == std::string_view::npos; }

}  // namespace

Source::Source(std::string_view text) : text_(text), ended_(true), total_(text.size()) {}

Source::Source(std::FILE* stream, std::string name) : stream_(stream), name_(std::move(name)) {
  struct stat st{};
  if (fstat(fileno(stream), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
    total_ = static_cast<std::uint64_t>(st.st_size);
}

bool Source::fill() {
  if (ended_) return false;
  const std::size_t at = buffer_.size();
  buffer_.resize(at + kBlock);
  const std::size_t n = std::fread(buffer_.data() + at, 1, kBlock, stream_);
  buffer_.resize(at + n);
  if (n == 0) {
    if (std::ferror(stream_)) throw InputError("cannot read " + name_ + ": " + std::strerror(errno));
    ended_ = true;
    return false;
  }
  return true;
}

bool Source::next(std::vector<Line>& lines, std::size_t max_lines, std::size_t max_bytes) {
  lines.clear();
  const auto data = [&] { return stream_ != nullptr ? std::string_view(buffer_) : text_; };
  // Lines as offsets until the window is complete: the buffer moves as it
  // is compacted and grows.
  struct Span {
    std::size_t begin, size, number;
    bool too_long;
  };
  std::vector<Span> spans;
  std::size_t window_bytes = 0;  // blank lines included: they are held too
  std::size_t scanned = start_;  // no line feed in [start_, scanned)
  // Reads a block, having first dropped the bytes before the window's
  // first line (or before the next line, when there is none yet): those of
  // the previous window, blank lines, the dropped part of a long line.
  const auto more = [&] {
    if (stream_ == nullptr) return false;
    const std::size_t keep = spans.empty() ? start_ : spans.front().begin;
    if (keep > 0) {
      buffer_.erase(0, keep);
      for (Span& s : spans) s.begin -= keep;
      start_ -= keep;
      scanned -= keep;
    }
    return fill();
  };
  while (spans.size() < max_lines && (spans.empty() || window_bytes < max_bytes)) {
    const std::string_view d = data();
    const std::size_t end = d.find('\n', scanned);
    if (skipping_) {
      // Inside a too-long line: its bytes are dropped as they come.
      if (end == std::string_view::npos) {
        consumed_ += d.size() - start_;
        scanned = start_ = d.size();
        if (!more()) break;
        continue;
      }
      consumed_ += end + 1 - start_;
      scanned = start_ = end + 1;
      skipping_ = false;
      continue;
    }
    const std::size_t stop = end == std::string_view::npos ? d.size() : end;
    if (stop - start_ > kMaxLineBytes) {
      // Reported at once, with its number, and the window ends with it; the
      // next call drops the line's bytes up to its end.
      spans.push_back({start_, 0, ++number_, true});
      skipping_ = true;
      break;
    }
    if (end == std::string_view::npos) {
      scanned = d.size();
      if (more()) continue;
      // A last line without its line feed is still a line.
      const std::string_view e = data();
      if (start_ < e.size()) {
        const std::size_t size = e.size() - start_;
        ++number_;
        if (!blank(e.substr(start_, size))) spans.push_back({start_, size, number_, false});
        consumed_ += size;
        scanned = start_ = e.size();
      }
      break;
    }
    ++number_;
    const std::size_t size = end - start_;
    if (!blank(d.substr(start_, size))) spans.push_back({start_, size, number_, false});
    window_bytes += size + 1;
    consumed_ += size + 1;
    scanned = start_ = end + 1;
  }
  const std::string_view d = data();
  lines.reserve(spans.size());
  for (const Span& s : spans)
    lines.push_back({s.too_long ? std::string_view() : d.substr(s.begin, s.size), s.number, s.too_long});
  return !lines.empty();
}

}  // namespace quenfold::cli::monitor
