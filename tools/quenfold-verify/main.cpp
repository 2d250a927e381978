// quenfold-verify: checks artefacts from a log or directory server by hand.
// Exit status: 0 verified, 1 rejected, 2 bad usage (including output that
// could not be written), 3 fork found (monitor).
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <new>
#include <sstream>

#include "cli.h"
#include "quenfold_log_version.h"

namespace {

using namespace quenfold::cli;

constexpr const char* kDescription =
    "Verifies artefacts of a key-transparency log or directory server: RFC 6962 proofs, signed\n"
    "notes and checkpoints, key-history entries, commitments, CONIKS and KEYTRANS directory\n"
    "proofs, and signed namespace policies; monitors sessions of checkpoints and proofs; writes\n"
    "the verifier key of an RFC 6962 log from the public key a CT log list gives for it.";

constexpr const char* kFooter =
    "Values: options take --name VALUE or --name=VALUE. A value is given inline (hex for\n"
    "bytes, white space ignored), as @PATH for the contents of a file, or as - for standard\n"
    "input (one value per invocation). Lists of hashes are separated by commas or white space.\n"
    "A value read from a file or standard input may hold at most 16 MiB unless its option's\n"
    "help says otherwise; files of keys may end their lines with CRLF.\n"
    "\n"
    "--json prints the verdict as one JSON object: \"command\", \"verdict\" (verified, rejected\n"
    "or usage), \"message\" unless verified, then the verified content with numbers as numbers,\n"
    "booleans as booleans, lists as arrays and bytes as lower-case hex.\n"
    "\n"
    "Exit status: 0 verified, 1 rejected, 2 bad usage, 3 fork found (monitor). A verdict that\n"
    "cannot be written to standard output is reported on standard error with status 2.\n"
    "Run quenfold-verify SUBCOMMAND --help for a subcommand's options and an example.";

// The subcommand list shows the first clause of each summary; a subcommand's
// own --help, and --help-all, show all of it.
class Formatter : public CLI::Formatter {
 public:
  std::string make_subcommand(const CLI::App* sub) const override {
    std::string summary = sub->get_description();
    std::size_t cut = summary.size();
    for (const char* end : {": ", "; ", ". "}) cut = std::min(cut, summary.find(end));
    summary = summary.substr(0, cut);
    if (!summary.ends_with('.')) summary += '.';
    std::ostringstream out;
    CLI::detail::format_help(out, sub->get_name(), summary, column_width_);
    return out.str();
  }
};

using Group = void (*)(Registry&);
constexpr Group kGroups[] = {
    register_merkle, register_key_history, register_coniks, register_note, register_keytrans, register_policy,
    register_monitor, register_vkey, register_tlog,
};

// Arguments that no subcommand declared: named as unknown options, or as
// unexpected when they are not options at all.
void reject_leftovers(const CLI::App& app) {
  const auto left = app.remaining(true);
  if (left.empty()) return;
  const std::string& first = left.front();
  if (first.starts_with("-") && first != "-") {
    throw UsageError("unknown option " + first.substr(0, first.find('=')));
  }
  throw UsageError("unexpected argument " + first);
}

int usage_error(const std::string& command, const std::string& message, bool json) {
  if (json) {
    std::cout << to_json(command, "usage", message, {}).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
              << "\n";
  } else {
    const std::string who = command.empty() ? "quenfold-verify" : "quenfold-verify " + command;
    std::cerr << who << ": " << message << "\n(" << who << " --help for details and an example)\n";
  }
  return kUsage;
}

// The subcommand's name as the command line gives it: the first argument
// that is not an option (the root's own options take no value), whether
// --json stands before it or after. Empty when there is none.
std::string first_word(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (!a.starts_with("-")) return a;
  }
  return "";
}

// Everything written to standard output has reached it, or the status
// says it has not: a verdict lost on a full disk or a closed pipe is not
// "verified".
int flushed(int status) {
  errno = 0;
  std::cout.flush();
  if (std::cout && std::fflush(stdout) == 0) return status;
  const int err = errno;
  std::cerr << "quenfold-verify: cannot write to standard output"
            << (err != 0 ? std::string(": ") + std::strerror(err) : std::string()) << "\n";
  return kUsage;
}

int run(int argc, char** argv, std::string& command, bool& want_json) {
  CLI::App app(kDescription, "quenfold-verify");
  app.formatter(std::make_shared<Formatter>());
  app.set_help_all_flag("--help-all", "Print the help of every subcommand and exit");
  app.set_version_flag("--version", std::string("quenfold-verify ") + QUENFOLD_LOG_VERSION_STRING);
  bool json = false;
  app.add_flag("--json", json, "Print the verdict as one JSON object on standard output");
  app.footer(kFooter);
  app.require_subcommand(1);
  // Settings inherited by every subcommand: the root's --json is accepted
  // after the subcommand's name, and unknown arguments are collected so that
  // reject_leftovers can name them.
  app.fallthrough();
  app.allow_extras();

  Registry registry(app);
  for (Group group : kGroups) group(registry);

  // Decided before parsing, so that a parse error is reported as JSON too.
  want_json = std::any_of(argv + 1, argv + argc, [](const char* a) { return std::string(a) == "--json"; });
  const std::string word = first_word(argc, argv);
  const Registry::Command* named = registry.find(word);
  if (named != nullptr) command = word;

  try {
    app.parse(argc, argv);
    reject_leftovers(app);
  } catch (const CLI::Success& e) {  // --help, --help-all, --version
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    if (argc < 2) {
      std::cerr << app.help();
      return kUsage;
    }
    std::string message = e.what();
    // An unknown option is the likelier mistake than the required option
    // whose check failed after it (a mistyped --index is also "missing").
    try {
      reject_leftovers(app);
    } catch (const UsageError& leftover) {
      message = leftover.what();
    }
    if (named == nullptr && !word.empty()) message = "unknown command " + word;
    return usage_error(command, message, want_json);
  } catch (const UsageError& e) {
    return usage_error(command, e.what(), want_json);
  }

  const Registry::Command* chosen = registry.chosen();
  command = chosen->app->get_name();
  Outcome outcome;
  try {
    outcome = chosen->handler(*chosen->options);
  } catch (const UsageError& e) {
    return usage_error(command, e.what(), json);
  }
  if (json) {
    const char* verdict = outcome.verified ? "verified" : "rejected";
    std::cout << to_json(command, verdict, outcome.message, outcome.fields).dump(-1, ' ', false,
                                                                                 nlohmann::json::error_handler_t::replace)
              << "\n";
  } else {
    std::cout << to_text(outcome);
  }
  if (!outcome.verified && outcome.status != 0) return outcome.status;
  return outcome.verified ? kVerified : kRejected;
}

// What no handler expected (memory running out, above all) ends the run as
// bad usage with its reason, never as an abort.
int last_resort(const std::string& command, const std::string& message, bool json) {
  try {
    return usage_error(command, message, json);
  } catch (...) {
    std::fputs("quenfold-verify: ", stderr);
    std::fputs(message.c_str(), stderr);
    std::fputs("\n", stderr);
    return kUsage;
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string command;
  bool json = false;
  int status = kUsage;
  try {
    status = run(argc, argv, command, json);
  } catch (const std::bad_alloc&) {
    status = last_resort(command, "out of memory", json);
  } catch (const std::exception& e) {
    status = last_resort(command, e.what(), json);
  }
  return flushed(status);
}
