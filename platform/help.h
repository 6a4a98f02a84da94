#pragma once
// Help topics through HTML Help. On Windows the registered HTML Help control is loaded on first
// use and its HtmlHelpA entry called; elsewhere there is no viewer and a request does nothing
// visible. A handler (tests, the command line) can take the requests instead.
#include <cstdint>
#include <functional>
#include <string>

#include "platform/ui.h"

namespace dz::help {

inline constexpr unsigned HH_DISPLAY_TOPIC = 0;
inline constexpr unsigned HH_DISPLAY_TOC = 1;
inline constexpr unsigned HH_DISPLAY_INDEX = 2;
// With data 0 the platform supplies an empty search query (HtmlHelpA needs one).
inline constexpr unsigned HH_DISPLAY_SEARCH = 3;

// The help file that the program's topics name; it lies in the start-up directory.
inline constexpr const char* help_file = "DividezUrirer.chm";

// HtmlHelpA(owner, topic, command, data), where topic reads "file.chm::/page.htm". Returns the
// viewer's result (its window), or 0 when HTML Help is unavailable; once loading has failed,
// every later call returns 0 at once.
std::intptr_t html_help(ui::Window owner, const std::string& topic, unsigned command,
                        std::uintptr_t data);

// When set, html_help hands every request to the handler instead. Returns the previous one.
using Handler = std::function<std::intptr_t(ui::Window owner, const std::string& topic,
                                            unsigned command, std::uintptr_t data)>;
Handler set_handler(Handler handler);

// Tests: the file to load as the HTML Help control instead of the registered one (an empty text
// restores the registry lookup). The library is loaded on first use and kept: set this before
// the first request of the process.
void set_control_library(std::string path);

// The platform's own HtmlHelpA call (no handler).
std::intptr_t platform_html_help(ui::Window owner, const std::string& topic, unsigned command,
                                 std::uintptr_t data);

// The folder that holds the running program ("" when it cannot be told).
std::string program_directory();

// Hands a file or a URL to the desktop's viewer (xdg-open on Linux, the shell on Windows) and
// waits until the launcher has returned. False with `error` filled when it could not be started
// or reported a failure.
bool open_document(const std::string& target, std::string& error);

}  // namespace dz::help
