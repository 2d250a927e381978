// The state file: one version line, then the signed checkpoint note as the
// log served it. Replaced by rename(2), which is atomic within a file
// system, so that a crash leaves the old state or the new one.
#include "tlog_state.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "cli.h"

namespace quenfold::cli::tlog {
namespace {

constexpr const char* kVersionLine = "quenfold-verify tlog state v1\n";
constexpr std::size_t kMaxState = std::size_t{1} << 20;

[[noreturn]] void fail(const std::string& what) { throw UsageError("--state: " + what); }

std::string errno_text() { return std::strerror(errno); }

std::string directory_of(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool write_all(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

StateFile::StateFile(std::string path) : path_(std::move(path)) {
  const std::string lock_path = path_ + ".lock";
  lock_ = open(lock_path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (lock_ < 0) fail("cannot open the lock " + lock_path + ": " + errno_text());
  // Held until this run ends: a second monitor of the same state cannot
  // read it, verify an older checkpoint and write it back over a newer one.
  if (flock(lock_, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    close(lock_);
    lock_ = -1;
    if (err == EWOULDBLOCK) fail(path_ + " is in use by another run (locked through " + lock_path + ")");
    errno = err;
    fail("cannot lock " + lock_path + ": " + errno_text());
  }
  raw_ = read_current();
  if (!raw_) return;
  if (!raw_->starts_with(kVersionLine))
    fail(path_ + " is not a state of this version (its first line is not \"" +
         std::string(kVersionLine, std::strlen(kVersionLine) - 1) + "\")");
  note_ = raw_->substr(std::strlen(kVersionLine));
}

StateFile::~StateFile() {
  if (lock_ >= 0) close(lock_);  // releases the lock
}

std::optional<std::string> StateFile::read_current() const {
  const int fd = open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return std::nullopt;
    if (errno == ELOOP) fail(path_ + " is a symbolic link; a state is never read or written through one");
    fail("cannot read " + path_ + ": " + errno_text());
  }
  struct stat st{};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    fail(path_ + " is not a regular file");
  }
  std::string out;
  char buf[1 << 14];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      close(fd);
      fail("cannot read " + path_ + ": " + errno_text());
    }
    if (n == 0) break;
    out.append(buf, static_cast<std::size_t>(n));
    if (out.size() > kMaxState) {
      close(fd);
      fail(path_ + " is larger than " + size_text(kMaxState));
    }
  }
  close(fd);
  return out;
}

void StateFile::replace(const std::string& note) {
  // Compare and swap: the lock keeps well-behaved runs out, and this check
  // keeps even a writer that ignored it from being rolled back.
  if (read_current() != raw_) fail(path_ + " changed during this run; it was not replaced");
  std::string tmp_path = path_ + ".XXXXXX";
  std::vector<char> name(tmp_path.begin(), tmp_path.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());  // O_EXCL, mode 0600: never through a link, never shared
  if (fd < 0) fail("cannot create a file beside " + path_ + ": " + errno_text());
  tmp_path = name.data();
  const std::string content = kVersionLine + note;
  bool ok = fchmod(fd, 0600) == 0 && write_all(fd, content) && fsync(fd) == 0;
  const int err = errno;
  ok = close(fd) == 0 && ok;
  if (!ok) {
    unlink(tmp_path.c_str());
    errno = err;
    fail("cannot write " + tmp_path + ": " + errno_text());
  }
  if (rename(tmp_path.c_str(), path_.c_str()) != 0) {
    const int rename_err = errno;
    unlink(tmp_path.c_str());
    errno = rename_err;
    fail("cannot replace " + path_ + ": " + errno_text());
  }
  // The rename is durable only once the directory that records it is.
  const int dir = open(directory_of(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0 || fsync(dir) != 0) {
    if (dir >= 0) close(dir);
    fail("cannot flush the directory of " + path_ + ": " + errno_text());
  }
  close(dir);
  raw_ = content;
  note_ = note;
}

}  // namespace quenfold::cli::tlog
