// Shared plumbing of the quenfold-verify subcommands: flag parsing, reading
// values from arguments, files or standard input, and printing verdicts.
//
// Output contract of every subcommand, which --json relies on: the first line
// is "verified" (optionally followed by "label: value" lines carrying the
// verified content) or "rejected: <exact message>". run_command() turns that
// into one JSON object when --json is given, so no subcommand formats JSON.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "quenfold/error.h"
#include "quenfold/types.h"

namespace quenfold::cli {

inline constexpr int kVerified = 0;
inline constexpr int kRejected = 1;
inline constexpr int kUsage = 2;

// Thrown for bad usage (exit status 2).
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// --name value pairs (and --flag switches) after the subcommand.
class Args {
 public:
  Args(int argc, char** argv, int first, std::vector<std::string> switches = {});

  bool has(const std::string& name) const { return values_.count(name) != 0; }
  bool flag(const std::string& name) const { return switches_on_.count(name) != 0; }
  // The raw value of --name; throws UsageError when missing.
  const std::string& raw(const std::string& name) const;

  // A value given inline, as @path (file contents) or as - (standard input).
  std::string text(const std::string& name) const;
  // Hex bytes (inline or from a file; whitespace ignored).
  Bytes hex(const std::string& name) const;
  // A list of hex values separated by commas or whitespace (may be empty).
  std::vector<Bytes> hex_list(const std::string& name) const;
  // A list of text lines (one per line of the file, or comma-separated).
  std::vector<std::string> lines(const std::string& name) const;
  std::uint64_t u64(const std::string& name) const;
  // Rejects any flag that no subcommand read.
  void finish(const std::vector<std::string>& known) const;

 private:
  std::map<std::string, std::string> values_;
  std::map<std::string, bool> switches_on_;
  // Standard input can be read once; a second "-" is bad usage.
  mutable bool stdin_taken_ = false;
};

std::string read_source(const std::string& given);  // inline text, @file or -
Bytes parse_hex(const std::string& text);

// One item of verified content, printed as "label: value".
struct Field {
  std::string label;
  std::string value;
};

// Prints the verdict: "verified" plus details, or "rejected: <message>".
int report(const std::expected<void, Error>& r);
int reject(const Error& e);
int verified(const std::vector<Field>& fields = {});

std::string to_hex(ByteView b);

// One subcommand: name, one-line usage, handler, its switches (flags without
// a value), a one-line summary and a complete example command line that
// works from the repository root on the bundled examples.
struct Command {
  const char* name;
  const char* usage;
  std::function<int(const Args&)> run;
  std::vector<std::string> switches;
  const char* summary = "";
  const char* example = "";
};

// Runs a subcommand on argv[first..]: --help, --json, usage errors and exit
// status (0 verified, 1 rejected, 2 bad usage).
int run_command(const Command& c, int argc, char** argv, int first);
// The JSON object for a subcommand's text output (see the contract above).
std::string to_json(const std::string& command, const std::string& output, int status,
                    const std::string& usage_message);

// Every subcommand the tool knows, by area.
std::vector<Command> merkle_commands();
std::vector<Command> key_history_commands();
std::vector<Command> coniks_commands();
std::vector<Command> note_commands();
std::vector<Command> keytrans_commands();
std::vector<Command> policy_commands();
// monitor writes one result per item, so it runs outside run_command (its
// Command entry only lists it); run_monitor handles --help, --json and usage.
std::vector<Command> monitor_commands();
int run_monitor(int argc, char** argv, int first);

}  // namespace quenfold::cli
