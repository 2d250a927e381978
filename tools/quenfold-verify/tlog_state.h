// A monitor's memory of a tiled log: the last checkpoint it verified, kept
// whole (the signed note) so that the next run can verify it again and
// prove the log's new checkpoint consistent with it.
#pragma once

#include <optional>
#include <string>

namespace quenfold::cli::tlog {

class StateFile {
 public:
  // Takes the lock beside `path` (path + ".lock") and reads the state, if
  // there is one. Throws UsageError when another run holds the lock, when
  // `path` is a symbolic link or not a regular file, or when it is not a
  // state of this format version.
  explicit StateFile(std::string path);
  ~StateFile();
  StateFile(const StateFile&) = delete;
  StateFile& operator=(const StateFile&) = delete;

  // The stored checkpoint note, or none on a first run.
  const std::optional<std::string>& note() const { return note_; }

  // Replaces the state with `note`, atomically: a new file made with
  // mkstemp beside it (mode 0600), written, flushed, renamed over the old
  // one, and the directory flushed. Only if the state is still what this
  // run read; throws UsageError otherwise, or when a step fails.
  void replace(const std::string& note);

 private:
  std::optional<std::string> read_current() const;

  std::string path_;
  int lock_ = -1;
  std::optional<std::string> raw_;   // the file as read
  std::optional<std::string> note_;
};

}  // namespace quenfold::cli::tlog
