#pragma once
// The questions the loader may ask, and the answer given for each when nobody can be asked
// (standard input is not a terminal and neither --yes nor --no was given): the answer that loses
// nothing.
#include <string>
#include <string_view>

namespace dz::cli {

// The answer that loses nothing for a question with that text: Yes or No as listed, No (Cancel)
// for any question not listed.
bool default_answer_is_yes(std::string_view text);

// The list for --help, one question per line.
std::string question_defaults_help();

}  // namespace dz::cli
