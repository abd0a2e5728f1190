#pragma once
// Shared by the fuzz targets. In a fuzz build die throws `Died` (see base/die.h).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/die.h"

// A promise the engine makes about an input it accepted; a broken one is a finding.
#define FUZZ_CHECK(cond)                                                            \
    do {                                                                            \
        if (!(cond)) {                                                              \
            std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                           \
        }                                                                           \
    } while (0)

// Runs one step on the input; false when the engine refused the input through die,
// which is an answer, not a finding, as long as each of its lines prints as one.
template <class Step> bool accepted(Step&& step) {
    try {
        step();
        return true;
    } catch (const Died& died) {
        FUZZ_CHECK(!died.faults.empty());
        for (const std::string& fault : died.faults)
            FUZZ_CHECK(escapeControls(fault).find_first_of("\n\r") == std::string::npos);
        return false;
    }
}

// The input as a file, for the readers that take a path: one file per process and
// name, in memory where /dev/shm exists, rewritten for every input.
inline std::string inputFile(const uint8_t* data, size_t size, const std::string& name) {
    static const std::string dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    const std::string path = dir + "/pellmar-fuzz-" + std::to_string(getpid()) + "-" + name;
    // libFuzzer ends with exit(), which runs this: the files go with the process.
    static struct Made {
        std::vector<std::string> paths;
        ~Made() {
            for (const auto& p : paths) unlink(p.c_str());
        }
    } made;
    if (made.paths.empty() || made.paths.back() != path) made.paths.push_back(path);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0) {
        std::perror(path.c_str());
        std::abort();
    }
    return path;
}

// Standard output carries the engine's "saved" lines and nothing else: no library may
// print there. The first call sends it to a scratch file; each call checks it is empty.
inline void expectQuietStdout() {
    static const bool redirected = [] {
        std::FILE* scratch = std::tmpfile();
        return scratch && dup2(fileno(scratch), STDOUT_FILENO) >= 0;
    }();
    std::fflush(stdout);
    FUZZ_CHECK(redirected && lseek(STDOUT_FILENO, 0, SEEK_END) == 0);
}

inline std::string readText(const std::string& path) {
    std::string text;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
        std::fclose(f);
    }
    return text;
}
