#include "base/inputfile.h"

#include <sys/stat.h>

#include "base/die.h"

void requireRegularMode(mode_t mode, const std::string& path, const std::string& role) {
    if (S_ISREG(mode)) return;
    const char* what = S_ISDIR(mode)    ? "a folder"
                       : S_ISFIFO(mode) ? "a FIFO"
                       : S_ISCHR(mode)  ? "a character device"
                       : S_ISBLK(mode)  ? "a block device"
                       : S_ISSOCK(mode) ? "a socket"
                                        : "not a regular file";
    die(role + " is " + what + ": " + path);
}

void requireRegularFile(const std::string& path, const std::string& role, const std::string& missing) {
    struct stat st;
    // Whatever stat cannot see (no entry, a dangling link, a folder without search
    // permission) is reported as missing, as the openers always did.
    if (stat(path.c_str(), &st) != 0) die(missing);
    requireRegularMode(st.st_mode, path, role);
}
