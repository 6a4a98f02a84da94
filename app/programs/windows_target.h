#pragma once
// Running the Windows program against a simulated module: `--target sim:MODEL[,key=value...]` at
// the start of the command line, or the environment variable DZ_TARGET.
#include <memory>
#include <string>

#include "sim/targets.h"

namespace dz {

struct ProgramArguments {
  std::string target;  // "" = hardware
  std::string rest;    // what program entry sees ("-test" for the production test)
};

// Takes a leading "--target TARGET" or "--target=TARGET" off the command line tail; without one the
// target comes from DZ_TARGET when `environment` is set.
ProgramArguments split_arguments(const std::string& tail, const char* environment);

// Starts the simulated module that `target` ("sim:MODEL[,key=value...]") names and points the
// program at it; nullptr with `error` filled when `target` is malformed or names no model.
std::unique_ptr<sim::Session> attach_target(const std::string& target, std::string& error);

}  // namespace dz
