#pragma once
#include <string>

#include "base/commands.h"

// The frame command's arguments for a recording given to spin: the positional output
// args[outArg] taken out, one --out group for it with the spin layout added. Option
// values stay as they are, even one that reads like the output path.
Args spinHandOffArgs(Args args, size_t outArg, const std::string& size, bool closeup);
