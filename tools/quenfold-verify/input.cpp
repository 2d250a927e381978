// Reading values: inline, @path or - for standard input, every read bounded
// by a cap so that no file (a device that never ends, a runaway pipe) can
// exhaust memory, and standard input read at most once per invocation.
#include <sys/mman.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cli.h"

namespace quenfold::cli {
namespace {

// Standard input holds one value per invocation.
bool stdin_taken = false;

// Asks for transparent huge pages under a large buffer that is about to be
// filled: a 50 MB text then costs 25 page faults instead of 12 800, which
// on virtual machines that provide each page slowly is most of the time it
// takes to read. Only whole 2 MiB pages inside the buffer are advised; the
// advice is a hint, and its failure changes nothing.
void advise_huge_pages(char* data, std::size_t size) {
  constexpr std::uintptr_t kHuge = std::uintptr_t{1} << 21;
  const auto begin = (reinterpret_cast<std::uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(kHuge - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

[[noreturn]] void too_large(const std::string& label, std::size_t cap) {
  throw UsageError(label + ": larger than " + size_text(cap));
}

// Reads a stream to its end, at most `cap` bytes, in one allocation when it
// is a regular file: a monitoring session can be tens of megabytes, and
// growing the text by doubling would copy it several times over. `name`
// names the source in read errors, `label` the value in the size error.
std::string read_stream(std::FILE* f, const std::string& name, const std::string& label, std::size_t cap) {
  std::string out;
  struct stat st{};
  if (fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    if (static_cast<std::uintmax_t>(st.st_size) > cap) too_large(label, cap);
    out.reserve(static_cast<std::size_t>(st.st_size));
    advise_huge_pages(out.data(), out.capacity());
  }
  char chunk[1 << 16];
  std::size_t n = 0;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
    if (n > cap - out.size()) too_large(label, cap);  // a file that grew, a device or a pipe
    out.append(chunk, n);
  }
  if (std::ferror(f)) throw UsageError("cannot read " + name + ": " + std::strerror(errno));
  return out;
}

// Reads a whole file; the error names the file and the system's reason.
std::string read_file(const std::string& path, const std::string& label, std::size_t cap) {
  errno = 0;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!f) throw UsageError("cannot read " + path + ": " + std::strerror(errno));
  return read_stream(f.get(), path, label, cap);
}

}  // namespace

std::string size_text(std::size_t bytes) {
  constexpr std::size_t kMiB = std::size_t{1} << 20;
  constexpr std::size_t kGiB = std::size_t{1} << 30;
  if (bytes >= kGiB && bytes % kGiB == 0) return std::to_string(bytes / kGiB) + " GiB";
  if (bytes >= kMiB && bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
  return std::to_string(bytes) + " bytes";
}

std::string read_standard_input(std::size_t cap, const std::string& label) {
  if (stdin_taken) throw UsageError("only one value can come from standard input (-)");
  stdin_taken = true;
  return read_stream(stdin, "standard input", label, cap);
}

std::string read_value(const std::string& given, const std::string& label, std::size_t cap) {
  if (given == "-") return read_standard_input(cap, label);
  if (given.starts_with('@')) return read_file(given.substr(1), label, cap);
  return given;
}

}  // namespace quenfold::cli
