#pragma once
// The questions the loader may ask, and the answer given for each when nobody can be asked
// (standard input is not a terminal and neither --yes nor --no was given): the answer that loses
// nothing.
#include <span>
#include <string>
#include <string_view>

namespace dz::cli {

struct QuestionDefault {
  const char* text_start;  // the question's text begins with this
  bool yes;                // the answer that loses nothing
  const char* reason;      // why, for --help
};

std::span<const QuestionDefault> question_defaults();

// The answer that loses nothing for a question with that text: Yes or No as listed, No (Cancel)
// for any question not listed.
bool default_answer_is_yes(std::string_view text);

// The list for --help, one question per line.
std::string question_defaults_help();

}  // namespace dz::cli
