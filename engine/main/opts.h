#pragma once
#include <string>
#include <utility>
#include <vector>

// Every layout name the option parser accepts, in the order the messages list them.
inline const std::vector<std::string> layouts = {"full", "closeup", "spin", "closeup_spin"};

struct OutRequest {
    std::string path;
    std::string size;
    std::string layout;
};

// The common options of still, frame, poster and spin.
struct Opts {
    std::string theme = "dark";
    std::string size = "1080x1920";
    std::string layout = "full";
    double startSec = 0;
    double maxSec = 60;
    std::vector<OutRequest> outs;
    std::vector<std::string> files;

    explicit Opts(const std::vector<std::string>& args);
};

// args[i+1], or the end of the process with "<option> needs a value".
const std::string& value(const std::vector<std::string>& args, size_t i);

// "WxH" with both sides at least 1; otherwise the end of the process.
std::pair<int, int> parseSize(const std::string& text);

// A whole-text C-locale floating-point literal, as the look file writes numbers.
bool readNumber(const std::string& text, double& out);

// Decimal digits with an optional sign, as the standard integer reader takes them.
bool readInt(const std::string& text, long long& out);

bool endsWith(const std::string& text, const std::string& tail);
std::string joinDots(const std::vector<std::string>& items);
