#pragma once
// What the command line needs to know about its terminal.
namespace dz::terminal {

// True when standard output / standard error / standard input is an interactive terminal.
bool stdout_is_terminal();
bool stderr_is_terminal();
bool stdin_is_terminal();
// Width of the terminal on standard output in columns (80 when unknown).
int columns();

}  // namespace dz::terminal
