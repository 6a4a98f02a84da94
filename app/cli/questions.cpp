// Default answers to the loader's questions.
#include "app/cli/questions.h"

namespace dz::cli {

namespace {

struct QuestionDefault {
  const char* text_start;  // the question's text begins with this
  bool yes;                // the answer that loses nothing
  const char* reason;      // why, for --help
};

constexpr QuestionDefault defaults[] = {
    {"BadBlock Table missing or corrupt", true,
     "the table is built from the factory bad-block marks; No would build an empty table and "
     "drop them"},
    {"Found signature", true,
     "the table is rebuilt from the factory bad-block marks; No shows nothing"},
    {"FlashBlock at", false,
     "a locked block stays locked and keeps its contents; the download stops"},
};

}  // namespace

bool default_answer_is_yes(std::string_view text) {
  for (const QuestionDefault& question : defaults)
    if (text.starts_with(question.text_start)) return question.yes;
  return false;
}

std::string question_defaults_help() {
  std::string text;
  for (const QuestionDefault& question : defaults) {
    text += std::string("  \"") + question.text_start + " ...\": " + (question.yes ? "Yes" : "No") +
            " (" + question.reason + ")\n";
  }
  text += "  any other question: No (Cancel)\n";
  return text;
}

}  // namespace dz::cli
