#pragma once
#include <string>

// The engine's only error exit: one line on standard error, status 1. No destructors
// run, because workers may still be drawing when another thread fails.
[[noreturn]] void die(const std::string& message);
