#include "main/die.h"

#include <cstdio>
#include <cstdlib>

void die(const std::string& message) {
    std::fflush(stdout);
    std::fwrite(message.data(), 1, message.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
    std::_Exit(1);
}
