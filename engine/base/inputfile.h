#pragma once
#include <cstddef>
#include <optional>
#include <string>

// Every file the engine reads (picture, recording, sound, look file, set file) passes
// here before it is opened. Opening a FIFO for reading blocks until a writer comes, and a
// device such as /dev/zero never ends, so only regular files (links followed) are read.

// Ends the process unless `path` names a regular file: nothing there ends with `missing`
// (the opener's own message), anything else with role + " is a FIFO: " + path and the
// like. Only stat is used; nothing is opened.
void requireRegularFile(const std::string& path, const std::string& role, const std::string& missing);

// A small input file read whole.
struct WholeFile {
    std::optional<std::string> text;
    // Why there is no text: empty when the file is missing or cannot be read, otherwise
    // "is a FIFO" (or "is a folder", ...) or "too large".
    std::string fault;
};

// Reads the file at path whole without blocking or reading without end: what is not a
// regular file is refused unread, and so is a file of more than maxBytes.
WholeFile readWholeFile(const std::string& path, size_t maxBytes);
