#include "base/pending.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <string_view>
#include <vector>

#include "base/die.h"

namespace fs = std::filesystem;

namespace {

constexpr std::string_view prefix = ".pellmar-";
constexpr size_t stemBytes = 48;

// Hidden files older than this run may be leftovers; newer ones belong to runs that
// started after it and are still writing.
const fs::file_time_type runStart = fs::file_time_type::clock::now();

// The hidden files not yet committed, and the folders already cleared of leftovers. The
// lock is held while a hidden file is created, so die() never misses one being made.
std::mutex registryLock;
std::vector<std::string> pending;
std::set<std::string> swept;

// The same hidden files for a signal handler, which can take no lock and allocate
// nothing: fixed slots of path bytes, each used once, marked live until the file is
// committed or removed. A run makes a few; any past the last slot are left to the sweep.
constexpr size_t signalSlots = 64;
char slotPath[signalSlots][PATH_MAX];
std::atomic<bool> slotLive[signalSlots];
std::atomic<size_t> slotsTaken{0};

int takeSlot(const std::string& hidden) {
    if (hidden.size() >= PATH_MAX) return -1;
    const size_t i = slotsTaken.fetch_add(1);
    if (i >= signalSlots) return -1;
    std::memcpy(slotPath[i], hidden.c_str(), hidden.size() + 1);
    slotLive[i].store(true);
    return int(i);
}

void releaseSlot(int slot) {
    if (slot >= 0) slotLive[slot].store(false);
}

std::string folderOf(const std::string& target) {
    const fs::path parent = fs::path(target).parent_path();
    return parent.empty() ? "." : parent.string();
}

// The pid in a hidden name of this engine, or -1 for any other name.
long hiddenPid(const std::string& name) {
    if (name.compare(0, prefix.size(), prefix) != 0) return -1;
    size_t i = prefix.size();
    long pid = 0;
    size_t digits = 0;
    for (; i < name.size() && name[i] >= '0' && name[i] <= '9' && digits < 10; ++i, ++digits)
        pid = pid * 10 + (name[i] - '0');
    if (digits == 0 || i >= name.size() || name[i] != '-') return -1;
    size_t serial = 0;
    for (++i; i < name.size() && name[i] >= '0' && name[i] <= '9'; ++i) ++serial;
    if (serial == 0 || i >= name.size() || name[i] != '-') return -1;
    return pid;
}

// A hidden file is a leftover when the run that made it is gone and it predates this run.
void removeLeftovers(const std::string& folder) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const long pid = hiddenPid(it->path().filename().string());
        if (pid <= 0 || pid == long(getpid())) continue;
        if (kill(pid_t(pid), 0) == 0 || errno != ESRCH) continue;
        std::error_code e;
        if (it->symlink_status(e).type() != fs::file_type::regular) continue;
        const auto written = fs::last_write_time(it->path(), e);
        if (!e && written < runStart) fs::remove(it->path(), e);
    }
}

void forget(const std::string& hidden) {
    const auto it = std::find(pending.begin(), pending.end(), hidden);
    if (it != pending.end()) pending.erase(it);
}

int syncPath(const std::string& path, int flags) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | flags);
    if (fd < 0) return errno;
    const int rc = fsync(fd) == 0 ? 0 : errno;
    close(fd);
    return rc;
}

}  // namespace

std::string hiddenName(const std::string& fileName, long pid, unsigned serial) {
    size_t n = std::min(fileName.size(), stemBytes);
    // Never cut a UTF-8 sequence in two.
    if (n < fileName.size())
        while (n > 0 && (static_cast<unsigned char>(fileName[n]) & 0xc0) == 0x80) --n;
    return std::string(prefix) + std::to_string(pid) + "-" + std::to_string(serial) + "-" + fileName.substr(0, n);
}

PendingFile::PendingFile(const std::string& target) : m_target(target) {
    static std::atomic<unsigned> serial{0};
    const std::string folder = folderOf(target);
    m_hidden = (fs::path(folder) / hiddenName(fs::path(target).filename().string(), long(getpid()), ++serial)).string();

    // Known to the signal handler before the file exists: a signal at any moment after
    // removes it.
    catchEndingSignals();
    m_slot = takeSlot(m_hidden);
    const std::lock_guard lock(registryLock);
    if (swept.insert(folder).second) removeLeftovers(folder);
    // Exclusive, and never through a link: the name is this run's alone. One that exists
    // can only be left by a killed run whose pid was this one's.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = open(m_hidden.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        m_error = fd < 0 ? errno : 0;
        if (fd >= 0) close(fd);
        if (m_error != EEXIST) break;
        unlink(m_hidden.c_str());
    }
    if (m_error) {
        m_pending = false;
        releaseSlot(m_slot);
        return;
    }
    pending.push_back(m_hidden);
}

PendingFile::~PendingFile() {
    if (!m_pending) return;
    const std::lock_guard lock(registryLock);
    unlink(m_hidden.c_str());
    forget(m_hidden);
    releaseSlot(m_slot);
}

int PendingFile::commit() {
    if (m_error) return m_error;
    if (int rc = syncPath(m_hidden, O_NOFOLLOW)) return rc;
    if (std::rename(m_hidden.c_str(), m_target.c_str()) != 0) return errno;
    {
        const std::lock_guard lock(registryLock);
        forget(m_hidden);
        releaseSlot(m_slot);
        m_pending = false;
    }
    // The new name is on disk only once the folder is.
    const int rc = syncPath(folderOf(m_target), O_DIRECTORY);
    return rc == EINVAL ? 0 : rc;
}

void removePendingFiles() {
    // Never unlocked: a worker that would make a hidden file after these are gone waits
    // for the process to end instead.
    registryLock.lock();
    for (const std::string& p : pending) unlink(p.c_str());
}

void removePendingFilesOnSignal() {
    const size_t n = std::min(slotsTaken.load(), signalSlots);
    for (size_t i = 0; i < n; ++i)
        if (slotLive[i].load()) unlink(slotPath[i]);
}

std::string absolutePath(const std::string& path) {
    std::error_code ec;
    auto abs = fs::absolute(path, ec);
    return ec ? path : abs.lexically_normal().string();
}

bool sameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return absolutePath(a) == absolutePath(b) || fs::equivalent(a, b, ec);
}

void refuseOverwrite(const std::string& out, const std::string& input, const std::string& what) {
    if (sameFile(out, input)) die("will not write over the " + what + ": " + out);
}
