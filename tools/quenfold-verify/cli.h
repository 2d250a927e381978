// Shared plumbing of the quenfold-verify subcommands.
//
// Every subcommand lives in a group file (cmd_*.cpp) whose registration
// function declares the subcommand's options on a Registry and gives it a
// handler. A handler reads its options through Options (a value may be given
// inline, as @path or as - for standard input), calls the library and returns
// an Outcome: verified with typed fields, or rejected with the library's exact
// message. The same fields are printed as "label: value" lines or, with
// --json, as one JSON object, so no handler formats either.
//
// The plumbing is split by job: input.cpp reads values (files and standard
// input, each read bounded), options.cpp interprets them, render.cpp prints
// outcomes and registry.cpp keeps the subcommands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "quenfold/error.h"
#include "quenfold/types.h"

namespace quenfold {
class CheckpointVerifier;
}

namespace quenfold::cli {

inline constexpr int kVerified = 0;
inline constexpr int kRejected = 1;
inline constexpr int kUsage = 2;

// The most a value read from a file or standard input may hold unless its
// reader names another cap: keys, policies, notes, proofs and envelopes are
// all far smaller, and a file that never ends (@/dev/zero) stops here.
inline constexpr std::size_t kMaxValueSize = std::size_t{16} << 20;  // 16 MiB

// Thrown for bad usage (exit status 2).
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The verified content of an outcome, in the order it is printed. Each setter
// records the value with its type: bytes become lower-case hex, numbers stay
// numbers, lists are always arrays and records nest.
class Fields {
 public:
  Fields& text(const std::string& key, std::string_view value);
  Fields& bytes(const std::string& key, ByteView value);
  Fields& number(const std::string& key, std::uint64_t value);
  Fields& flag(const std::string& key, bool value);
  Fields& texts(const std::string& key, const std::vector<std::string>& values);
  Fields& record(const std::string& key, const Fields& fields);
  Fields& records(const std::string& key, const std::vector<Fields>& values);  // always an array
  Fields& json(const std::string& key, nlohmann::ordered_json value);          // a value built elsewhere
  Fields& none(const std::string& key);  // an optional value that is absent

  const nlohmann::ordered_json& json() const { return json_; }

 private:
  nlohmann::ordered_json json_ = nlohmann::ordered_json::object();
};

struct Outcome {
  bool verified = false;
  std::string message;  // the rejection's exact text
  Fields fields;
  int status = 0;  // when not 0, the exit status instead of 1 (monitor: 3, the log forked)
};

Outcome verified(Fields fields = {});
Outcome rejected(const Error& e);
Outcome outcome_of(const std::expected<void, Error>& r);

// The options of one subcommand, as given on the command line. Declaring an
// option registers it with the parser; the readers below interpret it.
class Options {
 public:
  explicit Options(CLI::App& command) : command_(command) {}

  // --name VALUE; `type` names the value in the help ("HEX", "N", ...).
  Options& required(const std::string& name, const std::string& type, const std::string& help);
  Options& optional(const std::string& name, const std::string& type, const std::string& help);
  // --name without a value; has(name) tells whether it was given.
  Options& flag(const std::string& name, const std::string& help);

  bool has(const std::string& name) const;
  // The value exactly as given (never read from a file).
  const std::string& raw(const std::string& name) const;
  // The value given inline, as @path (the file's contents) or as - (standard
  // input, for one value per invocation). A file or standard input holding
  // more than `cap` bytes is bad usage ("--name: larger than 16 MiB").
  std::string text(const std::string& name, std::size_t cap = kMaxValueSize) const;
  // As text when --name is given, otherwise standard input: the default of
  // an option such as a session, which then is the invocation's one value
  // from standard input.
  std::string text_or_stdin(const std::string& name, std::size_t cap = kMaxValueSize) const;
  // Hex bytes; white space is ignored.
  Bytes hex(const std::string& name) const;
  // Hex values separated by commas or white space; none when not given.
  std::vector<Bytes> hex_list(const std::string& name) const;
  // Text lines: one per non-empty line of a file or standard input (a CR
  // before the LF is not part of the line), or comma-separated when given
  // inline.
  std::vector<std::string> lines(const std::string& name) const;
  // An unsigned decimal number (inline, @path or -).
  std::uint64_t u64(const std::string& name) const;
  // Whether --json was given (a handler that prints more than its verdict
  // chooses its format by it).
  bool json() const;

 private:
  CLI::App& command_;
  std::map<std::string, std::string> values_;  // node-stable: the parser writes here
};

// Hex bytes; white space is ignored.
Bytes parse_hex(const std::string& text);

// Everything on standard input, at most `cap` bytes; `label` names the value
// in errors ("--input: larger than 16 MiB"). Standard input holds one value
// per invocation: whatever reads it second, a - or an option's default, is
// refused as bad usage.
std::string read_standard_input(std::size_t cap = kMaxValueSize, const std::string& label = "standard input");
// A value as given on the command line: inline, @path or -, read through
// the same bounds.
std::string read_value(const std::string& given, const std::string& label, std::size_t cap = kMaxValueSize);
// "16 MiB", "1 GiB" or "1000 bytes": a cap as messages name it.
std::string size_text(std::size_t bytes);

// The verifier of checkpoints of `origin` from --keys and/or --policy (at
// least one): --keys names the log whatever its keys' names, a policy adds
// its witnesses and alone names the log by its log line. Bad usage when
// neither is given, either does not parse, or no key signs for the log.
CheckpointVerifier log_verifier(const Options& o, const std::string& origin);

// A subcommand's handler. It throws UsageError for bad usage.
using Handler = std::function<Outcome(const Options&)>;

// Every subcommand of the tool, on one root parser.
class Registry {
 public:
  explicit Registry(CLI::App& root) : root_(root) {}

  // Adds the subcommand `name`. `summary` is its description; `example` a
  // complete command line that verifies, run from the repository root on
  // the bundled examples. Declare its options on the returned Options.
  Options& add(const std::string& name, const std::string& summary, const std::string& example, Handler handler);

  struct Command {
    CLI::App* app;
    std::unique_ptr<Options> options;
    Handler handler;
  };
  // The subcommand that the parsed command line chose, if any.
  const Command* chosen() const;
  const Command* find(std::string_view name) const;

 private:
  CLI::App& root_;
  std::vector<Command> commands_;
};

// One registration function per group of subcommands.
void register_merkle(Registry& r);
void register_key_history(Registry& r);
void register_coniks(Registry& r);
void register_note(Registry& r);
void register_keytrans(Registry& r);
void register_policy(Registry& r);
void register_monitor(Registry& r);
void register_vkey(Registry& r);
void register_tlog(Registry& r);

// The verdict as printed: "verified" and one "label: value" line per field
// (records indented below their label), or "rejected: <message>".
std::string to_text(const Outcome& o);

// The verdict as one JSON object: {"command", "verdict", "message" when not
// verified, then the fields}. `verdict` is "verified", "rejected" or "usage".
nlohmann::ordered_json to_json(const std::string& command, const std::string& verdict, const std::string& message,
                               const Fields& fields);

}  // namespace quenfold::cli
