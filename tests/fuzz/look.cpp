// The look file as start-up reads it: the bounded read, the text check, the line format
// and the number readers. The file is the one TREVALO_LOOK names.
#include <cstdlib>

#include "fuzz.h"
#include "look/look.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = inputFile(data, size, "look.conf");
    setenv("TREVALO_LOOK", path.c_str(), 1);
    Look look;
    if (!accepted([&] { look = Look::locate("pellmar"); })) return 0;

    // Splitting into lines loses nothing, and trimming is done once and for all.
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto lines = lookLines(text);
    std::string joined;
    for (size_t i = 0; i < lines.size(); ++i) joined += (i ? "\n" : "") + lines[i];
    FUZZ_CHECK(joined == text);
    for (const std::string& line : lines) FUZZ_CHECK(trimSpaces(trimSpaces(line)) == trimSpaces(line));

    accepted([&] { LookValues::read(look); });
    for (const char* key : {"a", "b", "bezel_thickness", "grounding_ambient"}) {
        if (!look.has(key)) continue;
        accepted([&] { look.num(key); });
        for (int n = 1; n <= 4; ++n) {
            std::vector<double> got;
            if (accepted([&] { got = look.nums(key, n); })) FUZZ_CHECK(got.size() == size_t(n));
        }
    }
    return 0;
}
