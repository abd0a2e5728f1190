#include "base/die.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

void die(const std::string& message) {
    // The first failure wins: a second worker that fails meanwhile waits here for the
    // exit, so standard error carries exactly one line.
    static std::mutex first;
    first.lock();
    std::fflush(stdout);
    std::fwrite(message.data(), 1, message.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
    std::_Exit(1);
}
