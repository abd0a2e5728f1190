#pragma once
#include <string>
#include <vector>

#include "plan/setfile.h"

// One engine run of a set: the files it writes and reads, and its arguments.
struct Render {
    std::vector<std::string> outputs;  // absolute, in the order the run writes them
    std::vector<std::string> inputs;   // absolute: the input, then a backdrop picture
    std::vector<std::string> args;     // after the engine's path
    std::string what;                  // for ninja's status line
};

// Every run of the set: per input and language, one still or spin run per output of a
// screenshot, one frame run per group of alike-looking outputs of a recording.
std::vector<Render> planRenders(const Set& set);

// Faults (at most one: they share a cause) for a file written twice or written over
// one of the files the set reads.
void checkOutputs(const std::vector<Render>& renders, const std::vector<std::string>& readOnly,
                  const std::string& shown, const std::string& outDir, std::vector<std::string>& faults);

// The text as one /bin/sh word, byte for byte; line feeds and carriage returns come from
// the variables lf and cr, which shellCommand defines when a word needs them.
std::string shellWord(const std::string& text);
// "TREVALO_LOOK=<look> <engine> <args>" for /bin/sh, on one line.
std::string shellCommand(const std::string& engine, const std::string& look, const std::vector<std::string>& args);

// ninja's escapes: a value ($), and a path in a build line ($, space, colon).
std::string ninjaValue(const std::string& text);
std::string ninjaPath(const std::string& path);

struct ManifestPaths {
    std::string engine, look;  // absolute
    std::string self;          // the manifest as ninja is given it, or empty: it cannot renew itself
    std::string selfAbsolute;  // where a renewal writes it
};

// The ninja file: one edge per render, the engine and look file implicit inputs of
// each, and (with a self path) an edge that plans again when the set file changes.
std::string manifestText(const Set& set, const std::vector<Render>& renders, const ManifestPaths& paths);
