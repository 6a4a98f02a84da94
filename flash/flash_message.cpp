#include "flash/flash_message.h"

#include <cstdarg>
#include <cstdio>

#include "platform/ui.h"

namespace dz {

namespace {
std::string vformat(const char* format, va_list args) {
  char text[128];
  std::vsnprintf(text, sizeof text, format, args);
  return text;
}
}  // namespace

std::string flash_format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = vformat(format, args);
  va_end(args);
  return text;
}

void flash_error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = vformat(format, args);
  va_end(args);
  ui::message_box(ui::no_window, text, "ERROR", ui::MB_OK);
}

bool flash_ask(const std::string& text, const char* caption) {
  return ui::message_box(ui::no_window, text, caption, ui::MB_YESNO) == ui::IDYES;
}

void flash_show(const std::string& text, const char* caption) {
  ui::message_box(ui::no_window, text, caption, ui::MB_OK);
}

}  // namespace dz
