#pragma once
#include <string>

// The engine's only error exit: one line on standard error, status 1. No destructors
// run, because workers may still be drawing when another thread fails; safe to call
// from several threads at once (only the first line is written).
[[noreturn]] void die(const std::string& message);
