#pragma once
#include <string>
#include <vector>

// The engine's only error exit: one line on standard error, status 1. No destructors
// run, because workers may still be drawing when another thread fails; the hidden files
// of outputs not yet complete are removed first. Safe to call from several threads at
// once (only the first line is written).
[[noreturn]] void die(const std::string& message);
// The same exit for a check that reports every fault it found at once (a set file): one
// line per fault, each escaped like die's.
[[noreturn]] void die(const std::vector<std::string>& faults);

// The text with control characters spelled out (a line feed as \n, others as \xHH or
// \uHHHH), so that any value or path prints as part of one line.
std::string escapeControls(const std::string& text);

// Ctrl-C, a termination request or a hang-up (each unless the process was started with
// it ignored): erase the progress line, remove the hidden files of outputs not yet
// complete, then end as the signal would have ended the process. Installed once, by the
// first progress line or hidden file; SIGKILL leaves the files to the next run's sweep.
void catchEndingSignals();

// Prints "saved " + path + "  (" + details + ")" as one line on standard output.
void reportSaved(const std::string& path, const std::string& details);

#ifdef PELLMAR_FUZZ
// Fuzz builds only (tests/fuzz): die throws this instead of ending the process, so that
// one fuzzing process goes on to its next input. The engine proper never throws.
struct Died {
    std::vector<std::string> faults;
};
#endif
