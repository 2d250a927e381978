// quenfold-verify: checks artefacts from a log or directory server by hand.
// Exit status: 0 verified, 1 rejected, 2 bad usage.
//
// Values are given inline (hex for bytes), as @path to read a file, or as -
// for standard input.
#include <iostream>

#include "cli.h"

namespace {

std::vector<quenfold::cli::Command> all_commands() {
  std::vector<quenfold::cli::Command> all;
  using Group = std::vector<quenfold::cli::Command> (*)();
  const Group groups[] = {
      quenfold::cli::merkle_commands,
      quenfold::cli::key_history_commands,
      quenfold::cli::coniks_commands,
      quenfold::cli::note_commands,
      quenfold::cli::keytrans_commands,
      quenfold::cli::policy_commands,
      quenfold::cli::monitor_commands,
  };
  for (Group group : groups) {
    auto cmds = group();
    all.insert(all.end(), cmds.begin(), cmds.end());
  }
  return all;
}

int usage(const std::vector<quenfold::cli::Command>& cmds, std::ostream& out) {
  out << "usage: quenfold-verify <command> [options] [--json]\n"
         "       quenfold-verify <command> --help\n\ncommands:\n";
  for (const auto& c : cmds) out << "  " << c.name << " " << c.usage << "\n";
  out << "\nValues: inline (hex for bytes), @path for a file, - for standard input.\n"
         "--json prints the verdict as one JSON object.\n"
         "Exit status: 0 verified, 1 rejected, 2 bad usage.\n";
  return quenfold::cli::kUsage;
}

}  // namespace

int main(int argc, char** argv) {
  const auto cmds = all_commands();
  if (argc < 2) return usage(cmds, std::cerr);
  const std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    usage(cmds, std::cout);
    return quenfold::cli::kVerified;
  }
  if (name == "monitor") return quenfold::cli::run_monitor(argc, argv, 2);
  for (const auto& c : cmds) {
    if (name == c.name) return quenfold::cli::run_command(c, argc, argv, 2);
  }
  std::cerr << "quenfold-verify: unknown command " << name << "\n";
  return usage(cmds, std::cerr);
}
