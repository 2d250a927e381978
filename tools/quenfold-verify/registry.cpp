// The subcommands of the tool, each with its parser, options and handler.
#include "cli.h"

namespace quenfold::cli {

Options& Registry::add(const std::string& name, const std::string& summary, const std::string& example,
                       Handler handler) {
  CLI::App* app = root_.add_subcommand(name, summary);
  app->footer("Example (from the repository root):\n  " + example);
  commands_.push_back({app, std::make_unique<Options>(*app), std::move(handler)});
  return *commands_.back().options;
}

const Registry::Command* Registry::chosen() const {
  for (const auto& c : commands_)
    if (c.app->parsed()) return &c;
  return nullptr;
}

const Registry::Command* Registry::find(std::string_view name) const {
  for (const auto& c : commands_)
    if (c.app->get_name() == name) return &c;
  return nullptr;
}

}  // namespace quenfold::cli
