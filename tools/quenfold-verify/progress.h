#pragma once
// A progress bar for long commands. It lives on standard error, and only
// when that is a terminal: piped or redirected output never carries it.

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <iostream>
#include <string>
#include <string_view>

namespace quenfold::cli {

class ProgressBar {
 public:
  ProgressBar() : enabled_(isatty(STDERR_FILENO) == 1) {}
  ~ProgressBar() {
    if (enabled_) std::cerr << "\r\033[K" << std::flush;
  }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  bool enabled() const { return enabled_; }

  // "<label> [####....] <suffix>", filled to done/total (full when total
  // is 0: nothing left to do).
  static void draw(std::string_view label, std::uint64_t done, std::uint64_t total, std::string_view suffix) {
    constexpr std::uint64_t kWidth = 40;
    done = std::min(done, total);
    const std::uint64_t filled = total == 0 ? kWidth : done * kWidth / total;
    std::cerr << "\r" << label << " [" << std::string(filled, '#') << std::string(kWidth - filled, '.') << "] "
              << suffix << std::flush;
  }

 private:
  bool enabled_;
};

}  // namespace quenfold::cli
