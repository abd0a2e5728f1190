#pragma once
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

// A fresh empty folder under the system temp folder, removed when the test binary ends.
std::string tempDir();
std::string sourceDir();
std::string shippedLook();
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
bool exists(const std::string& path);
