#pragma once
// Message boxes of the flash drivers: no owner window, texts formatted into 128 characters.
#include <string>

namespace dz {

std::string flash_format(const char* format, ...) __attribute__((format(printf, 1, 2)));
// "ERROR" box with an OK button.
void flash_error(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Yes/No question; true when the answer is Yes.
bool flash_ask(const std::string& text, const char* caption);
// OK box with the given caption (no length limit: the bad block table dump).
void flash_show(const std::string& text, const char* caption);

}  // namespace dz
