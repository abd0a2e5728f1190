// The common options: an argument list split at NUL bytes, as a shell hands it over,
// through Opts, then every size text through parseSize and every word through parseLayout.
#include <optional>

#include "base/opts.h"
#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> args(1);
    for (size_t i = 0; i < size && args.size() <= 64; ++i) {
        if (data[i] == 0) args.emplace_back();
        else args.back() += char(data[i]);
    }

    std::optional<Opts> opts;
    if (accepted([&] { opts.emplace(args); })) {
        FUZZ_CHECK(opts->startSec >= 0 && opts->maxSec >= 0);  // NaN fails too
        FUZZ_CHECK(opts->files.size() + 4 * opts->outs.size() <= args.size());
        std::vector<std::string> sizes{opts->size};
        for (const OutRequest& out : opts->outs) sizes.push_back(out.size);
        for (const std::string& text : sizes) {
            std::pair<int, int> wh;
            if (accepted([&] { wh = parseSize(text); })) FUZZ_CHECK(wh.first >= 1 && wh.second >= 1);
        }
    }
    for (const std::string& word : args) {
        Layout layout = Layout::full;
        if (accepted([&] { layout = parseLayout(word); })) FUZZ_CHECK(word == layoutName(layout));
        std::pair<int, int> wh;
        if (accepted([&] { wh = parseSize(word); })) FUZZ_CHECK(wh.first >= 1 && wh.second >= 1);
    }
    return 0;
}
