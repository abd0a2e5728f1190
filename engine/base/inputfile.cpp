#include "base/inputfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/die.h"

namespace {

// What a mode names when it is not a regular file, or nullptr.
const char* notAFile(mode_t mode) {
    if (S_ISREG(mode)) return nullptr;
    return S_ISDIR(mode)    ? "is a folder"
           : S_ISFIFO(mode) ? "is a FIFO"
           : S_ISCHR(mode)  ? "is a character device"
           : S_ISBLK(mode)  ? "is a block device"
           : S_ISSOCK(mode) ? "is a socket"
                            : "is not a regular file";
}

struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

void requireRegularFile(const std::string& path, const std::string& role, const std::string& missing) {
    struct stat st;
    // Whatever stat cannot see (no entry, a dangling link, a folder without search
    // permission) is reported as missing, as the openers always did.
    if (stat(path.c_str(), &st) != 0) die(missing);
    if (const char* what = notAFile(st.st_mode)) die(role + " " + what + ": " + path);
}

WholeFile readWholeFile(const std::string& path, size_t maxBytes) {
    WholeFile file;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return file;
    if (const char* what = notAFile(st.st_mode)) {
        file.fault = what;
        return file;
    }
    // Should the path turn into a FIFO after the check, a non-blocking open still returns
    // at once, and fstat of what was opened refuses it.
    const Descriptor d{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    if (d.fd < 0 || fstat(d.fd, &st) != 0) return file;
    if (const char* what = notAFile(st.st_mode)) {
        file.fault = what;
        return file;
    }
    // The size may change while it is read: the bound holds for what is read.
    std::string text;
    char buf[16384];
    for (;;) {
        const ssize_t n = ::read(d.fd, buf, sizeof buf);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            return file;
        }
        text.append(buf, size_t(n));
        if (text.size() > maxBytes) {
            file.fault = "too large";
            return file;
        }
    }
    file.text = std::move(text);
    return file;
}
