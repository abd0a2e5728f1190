#pragma once
#include <string>

#include "base/commands.h"

// The frame command's arguments for a recording given to spin: the output path and the
// first --layout pair taken out, one --out group with the spin layout added.
Args spinHandOffArgs(Args args, const std::string& out, const std::string& size, bool closeup);
