#include "base/die.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "base/pending.h"
#include "base/progress.h"

#if defined(__SANITIZE_ADDRESS__)
// Sanitized builds only. Two libraries keep memory to the end by design, which
// LeakSanitizer would report at exit: Mesa 22.3's CPU device (lavapipe) keeps 48 bytes of
// every pipeline it destroys, and fontconfig keeps its font list for the caption text.
// Only allocations made inside them are waived, so leaks of our own still fail a run. The
// waivers' summary table stays off standard error, which carries one line at most. Here,
// because every program and test of the engine links die.
extern "C" const char* __lsan_default_suppressions() { return "leak:libvulkan_lvp.so\nleak:libfontconfig.so\n"; }
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
#endif

void die(const std::vector<std::string>& faults) {
#ifdef PELLMAR_FUZZ
    throw Died{faults};
#endif
    // The first failure wins: a second worker that fails meanwhile waits here for the
    // exit, so standard error carries exactly one report.
    static std::mutex first;
    first.lock();
    endProgressLine();  // the message alone is left on a terminal
    removePendingFiles();
    std::string text;
    for (const auto& f : faults) text += escapeControls(f) + "\n";
    std::fflush(stdout);
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
    std::_Exit(1);
}

void die(const std::string& message) { die(std::vector<std::string>{message}); }

namespace {

void endOnSignal(int sig) {
    eraseProgressLineOnSignal();
    removePendingFilesOnSignal();
    std::raise(sig);  // the handler was reset on entry: this one is the default action
}

}  // namespace

void catchEndingSignals() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction old {};
            if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) continue;
            struct sigaction sa {};
            sa.sa_handler = endOnSignal;
            sa.sa_flags = SA_RESETHAND;
            sigemptyset(&sa.sa_mask);
            sigaction(sig, &sa, nullptr);
        }
    });
}

std::string escapeControls(const std::string& text) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\t') out += "\\t";
        else if (c < 0x20 || c == 0x7f) out += std::string("\\x") + hex[c >> 4] + hex[c & 15];
        // U+0080 to U+009F in UTF-8: some terminals and text widgets break lines at them too.
        else if (c == 0xc2 && i + 1 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xe0) == 0x80) {
            const auto d = static_cast<unsigned char>(text[++i]);
            out += std::string("\\u00") + hex[d >> 4] + hex[d & 15];
        } else out += char(c);
    }
    return out;
}

void reportSaved(const std::string& path, const std::string& details) {
    const std::string line = escapeControls("saved " + path + "  (" + details + ")") + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}
