#pragma once
#include <initializer_list>
#include <string>
#include <vector>

// What a child process left behind.
struct Ran {
    int status = -1;  // exit status, or 128 + signal
    std::string out, err;
};

// Runs the built pellmar with the arguments; extra "KEY=value" entries are added to
// (or, with an empty value after "=", replace in) the environment.
Ran pellmar(const std::vector<std::string>& args, const std::vector<std::string>& env = {});
// Runs a shell command line (for independent readers such as ffprobe and identify).
Ran shell(const std::string& command);
// Everything readable from fd until its end (or, for a pseudo-terminal, until its other side
// is gone).
std::string slurp(int fd);

// A fresh empty folder under the system temp folder, removed when the test binary ends.
std::string tempDir();
std::string sourceDir();
std::string shippedLook();
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
bool exists(const std::string& path);

// Installs the shipped look with some keys overridden (later lines win) for the
// lifetime of the object, then puts the shipped look back.
class ScopedLook {
public:
    explicit ScopedLook(std::initializer_list<std::pair<std::string, std::string>> overrides);
    ~ScopedLook();
    ScopedLook(const ScopedLook&) = delete;
    ScopedLook& operator=(const ScopedLook&) = delete;
};
// The shipped look text with the overrides appended, for a file handed to pellmar.
std::string lookWith(const std::vector<std::pair<std::string, std::string>>& overrides);
