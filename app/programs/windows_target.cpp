// Simulated modules for the Windows program.
#include "app/programs/windows_target.h"

namespace dz {

namespace {

std::string first_word(const std::string& text, std::size_t from, std::size_t& end) {
  while (from < text.size() && (text[from] == ' ' || text[from] == '\t')) ++from;
  end = from;
  while (end < text.size() && text[end] != ' ' && text[end] != '\t') ++end;
  return text.substr(from, end - from);
}

}  // namespace

ProgramArguments split_arguments(const std::string& tail, const char* environment) {
  ProgramArguments out;
  out.rest = tail;
  std::size_t end = 0;
  const std::string word = first_word(tail, 0, end);
  if (word == "--target") {
    out.target = first_word(tail, end, end);
  } else if (word.rfind("--target=", 0) == 0) {
    out.target = word.substr(9);
  } else {
    if (environment != nullptr) out.target = environment;
    return out;
  }
  while (end < tail.size() && (tail[end] == ' ' || tail[end] == '\t')) ++end;
  out.rest = tail.substr(end);
  return out;
}

std::unique_ptr<sim::Session> attach_target(const std::string& target, std::string& error) {
  std::string model_name;
  sim::TargetOptions options;
  if (!sim::parse_target(target, model_name, options, error)) return nullptr;
  const sim::TargetModel* model = sim::find_target_model(model_name);
  if (model == nullptr) {
    error = "--target: unknown simulated module '" + model_name + "'";
    return nullptr;
  }
  std::unique_ptr<sim::Session> session = model->attach(options, error);
  if (!session && error.empty()) error = "--target: " + model_name + " cannot be started";
  return session;
}

}  // namespace dz
