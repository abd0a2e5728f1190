#pragma once
#include <sys/types.h>

#include <string>

// Every file the engine reads (picture, recording, sound, look file) passes here before
// it is opened. Opening a FIFO for reading blocks until a writer comes, and a device such
// as /dev/zero never ends, so only regular files (links followed) are read at all.

// Ends the process unless `path` names a regular file: nothing there ends with `missing`
// (the opener's own message), anything else with role + " is a FIFO: " + path and the
// like. Only stat is used; nothing is opened.
void requireRegularFile(const std::string& path, const std::string& role, const std::string& missing);

// The same check for a mode already in hand (from fstat of an open descriptor).
void requireRegularMode(mode_t mode, const std::string& path, const std::string& role);
