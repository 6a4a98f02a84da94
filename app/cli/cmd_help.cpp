// The 'help' command: where the help pages are (the same pages as the Windows help file), and
// opening them in the desktop's browser.
#include <filesystem>
#include <iostream>
#include <string>

#include "app/cli/commands.h"
#include "platform/help.h"

namespace dz::cli {

namespace {

namespace fs = std::filesystem;

// The topics a user may name, with or without ".htm".
constexpr const char* help_topics[] = {"index", "ConnectionJtag", "ConnectionSerial",
                                       "ConnectionEthernet", "Troubleshooting"};

// The folder of the pages: installed beside the program (PREFIX/bin and PREFIX/share/doc), or
// the build tree's copy. "" when neither holds the contents page.
std::string help_pages_folder() {
  const std::string program = help::program_directory();
  if (program.empty()) return "";
  const fs::path candidates[] = {
      fs::path(program) / ".." / "share" / "doc" / "dividezurirer" / "html",
      fs::path(program) / ".." / ".." / "help" / "html",  // build/app/programs -> build/help/html
  };
  for (const fs::path& folder : candidates) {
    std::error_code ignored;
    if (fs::is_regular_file(folder / "index.htm", ignored))
      return fs::weakly_canonical(folder, ignored).string();
  }
  return "";
}

// The page file of a topic name, or "" when there is no such topic.
std::string topic_page(std::string topic) {
  if (topic.empty()) return "index.htm";
  if (topic.size() > 4 && topic.ends_with(".htm")) topic.resize(topic.size() - 4);
  for (const char* known : help_topics)
    if (topic == known) return topic + ".htm";
  return "";
}

int run_help(bool open, const std::string& topic) {
  const std::string page = topic_page(topic);
  if (page.empty()) {
    std::string names;
    for (const char* known : help_topics) names += std::string(names.empty() ? "" : ", ") + known;
    std::cerr << "dividezurirer help: no topic '" << topic << "' (the topics are " << names
              << ").\n";
    return exit_usage;
  }
  const std::string folder = help_pages_folder();
  if (folder.empty()) {
    std::cerr << "dividezurirer help: the help pages are not installed (looked for "
                 "share/doc/dividezurirer/html beside the program).\n";
    return exit_failure;
  }
  const std::string path = (fs::path(folder) / page).string();
  std::cout << path << "\n";
  std::cout.flush();
  if (!open) return exit_success;
  std::string error;
  if (!help::open_document(path, error)) {
    std::cerr << "dividezurirer help: " << error << "\n";
    return exit_failure;
  }
  return exit_success;
}

}  // namespace

void add_help_command(CLI::App& app, Globals& globals) {
  auto* cmd = app.add_subcommand(
      "help",
      "Show where the help pages are (wiring of the JTAG cables, serial and Ethernet set-up, "
      "troubleshooting); --open shows one in the browser");
  static bool open = false;
  static std::string topic;
  cmd->add_flag("--open", open, "Open the page with xdg-open");
  cmd->add_option("topic", topic,
                  "index (the contents), ConnectionJtag, ConnectionSerial, ConnectionEthernet "
                  "or Troubleshooting");
  cmd->callback([&globals] { globals.exit_status = run_help(open, topic); });
}

}  // namespace dz::cli
