#pragma once
#include <functional>
#include <string>
#include <vector>

#include "support/support.h"

// What a terminal shows after receiving the bytes: carriage return, line feed and "erase to
// the end of the line" applied, trailing empty lines dropped.
std::string screenOf(const std::string& bytes);

// Runs body in a child process whose standard error is a pseudo-terminal `columns` wide and
// whose standard output is a pipe. err holds every byte the terminal received; the child
// ends with status 0 when body returns.
Ran onTerminal(const std::function<void()>& body, int columns = 100);

// The built pellmar on such a terminal, with "KEY=value" entries added to its environment.
Ran pellmarOnTerminal(const std::vector<std::string>& args, const std::vector<std::string>& env = {});
