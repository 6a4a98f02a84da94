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

// HtmlHelpA(owner, topic, command, data), where topic reads "file.chm::/page.htm". Returns the
// viewer's result (its window), or 0 when HTML Help is unavailable; once loading has failed,
// every later call returns 0 at once.
std::intptr_t html_help(ui::Window owner, const std::string& topic, unsigned command,
                        std::uintptr_t data);

// When set, html_help hands every request to the handler instead. Returns the previous one.
using Handler = std::function<std::intptr_t(ui::Window owner, const std::string& topic,
                                            unsigned command, std::uintptr_t data)>;
Handler set_handler(Handler handler);

// The platform's own HtmlHelpA call (no handler).
std::intptr_t platform_html_help(ui::Window owner, const std::string& topic, unsigned command,
                                 std::uintptr_t data);

}  // namespace dz::help
