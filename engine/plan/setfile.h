#pragma once
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/opts.h"

// A set: every input rendered in every language at every output, read from a JSON file.
// Paths in it are taken from the set file's folder and held here absolute.

struct Caption {
    std::string title, subtitle;  // subtitle may be empty
};

struct SetInput {
    std::string file;  // absolute; "{lang}" stands for the language
    std::string name;  // the input's part of output names: the file's stem unless named
    bool recording = false;
    std::map<std::string, Caption> captions;  // by language; empty: no text on its outputs
    std::optional<double> start, max;         // recordings only
    std::vector<std::string> outputs;         // the names of its outputs; empty: every output
};

// How an output looks; outputs that look alike share one pass over a recording.
struct Appearance {
    std::string theme = "dark";
    std::string backdrop;  // "#RRGGBB", "#RRGGBB,#RRGGBB", an absolute image path, or empty
    bool backdropImage = false;
    std::string caption;  // "top", "bottom" or empty
    auto operator<=>(const Appearance&) const = default;
};

struct SetOutput {
    std::string name;
    std::pair<int, int> still, video;  // a shape renders stills at twice its video size
    bool closeup = false;
    bool spin = false;  // the turning clip: a video even for a screenshot
    Appearance look;
};

// Whether the input is rendered at that output.
bool rendersAt(const SetInput& in, const SetOutput& out);

struct Set {
    std::string path;                    // the set file, absolute
    std::string outDir;                  // absolute
    std::string naming;                  // the pattern of output paths inside outDir, without extension
    std::vector<std::string> languages;  // empty: one language that names nothing
    std::vector<SetInput> inputs;
    std::vector<SetOutput> outputs;
};

// Reads and checks the set file. Every fault is one line "<path as given>: <field>: ...";
// the lines are collected in faults and the returned set is then incomplete.
Set readSet(const std::string& path, std::vector<std::string>& faults);

// The naming pattern with its placeholders filled in.
std::string expandName(const std::string& pattern, const std::string& input, const std::string& lang,
                       const std::string& output);
