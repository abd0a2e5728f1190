#pragma once
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/progress.h"

// Where the device sits in an output. The two turning layouts are video only: the device
// turns once and comes to rest on the full layout (spin) or leaves the close-up (closeup_spin).
enum class Layout { full, closeup, spin, closeupSpin };

// Every layout, in the order the messages list them.
inline constexpr Layout allLayouts[] = {Layout::full, Layout::closeup, Layout::spin, Layout::closeupSpin};

// The option word of a layout ("full", "closeup", "spin", "closeup_spin").
const char* layoutName(Layout l);
// The layout named by an option word, or the end of the process with "unknown layout: ...".
Layout parseLayout(const std::string& name);
inline bool isTurning(Layout l) { return l == Layout::spin || l == Layout::closeupSpin; }
// The flat picture a layout starts from: closeup_spin leaves the close-up.
inline bool isCloseup(Layout l) { return l == Layout::closeup || l == Layout::closeupSpin; }

struct OutRequest {
    std::string path;
    std::string size;
    Layout layout = Layout::full;
};

// The common options of still, frame, poster and spin.
struct Opts {
    std::string theme = "dark";
    std::string size = "1080x1920";
    Layout layout = Layout::full;
    double startSec = 0;
    double maxSec = 60;
    std::vector<OutRequest> outs;
    std::vector<std::string> files;
    std::vector<size_t> fileArgs;  // where each of files stands in the arguments
    Report report = Report::none;  // --progress: frame and spin report frames on standard output
    // Text on the backdrop: empty is none. A line feed breaks the line.
    std::string title, subtitle;
    bool captionBottom = false;  // --caption bottom: the text below the device
    std::string backdrop;        // --backdrop as given: empty for the theme's own base

    explicit Opts(const std::vector<std::string>& args);
};

// args[i+1], or the end of the process with "<option> needs a value".
const std::string& value(const std::vector<std::string>& args, size_t i);

// A size the app stores ask for by name. Every one has a "-landscape" form with the
// sides swapped; all sides are even, so each also serves as a video size.
struct NamedSize {
    std::string name;
    int w = 0, h = 0;
};
// Every named size, each portrait form followed by its landscape form.
const std::vector<NamedSize>& namedSizes();

// A size name or "WxH" with both sides at least 1, or nothing.
std::optional<std::pair<int, int>> readSize(const std::string& text);
// readSize, or the end of the process with "bad --size: ...".
std::pair<int, int> parseSize(const std::string& text);

// A whole-text C-locale floating-point literal, as the look file writes numbers.
bool readNumber(const std::string& text, double& out);

// Decimal digits with an optional sign, as the standard integer reader takes them.
bool readInt(const std::string& text, long long& out);

bool endsWith(const std::string& text, const std::string& tail);
std::string joinDots(const std::vector<std::string>& items);
// The shortest text that reads back as the same double: 35 -> "35", 2.5 -> "2.5".
std::string decimal(double v);
