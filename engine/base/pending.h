#pragma once
#include <string>

// A new file for a target path, written under a hidden name in the target's folder and
// renamed over the target only once it is complete and on disk: an earlier file at the
// target stays byte for byte until the new one replaces it whole, and two runs writing
// one path leave one of their two files. The hidden file is removed on every failure,
// by the destructor or, when the process ends through die(), by removePendingFiles(), and
// when it ends by SIGINT, SIGTERM or SIGHUP, by removePendingFilesOnSignal().
class PendingFile {
public:
    // Creates the hidden file, empty; error() tells whether that failed. Leftovers of
    // killed runs in the target's folder are removed first.
    explicit PendingFile(const std::string& target);
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // 0, or the errno of creating the hidden file.
    int error() const { return m_error; }
    // Where the new file is written.
    const std::string& path() const { return m_hidden; }
    const std::string& target() const { return m_target; }
    // Flushes the written file to disk, renames it over the target and flushes the
    // folder. 0 on success, else the errno of the step that failed.
    int commit();

private:
    std::string m_target, m_hidden;
    int m_error = 0;
    bool m_pending = true;
    int m_slot = -1;  // for removePendingFilesOnSignal, or -1
};

// Removes the hidden file of every PendingFile not committed yet, and makes any other
// thread that would create one wait: for a process about to end (die).
void removePendingFiles();
// The same from a signal handler: only unlink(2), no lock.
void removePendingFilesOnSignal();

// The hidden name of a new file for fileName written by process pid: a fixed prefix,
// the pid, a serial number and at most 48 bytes of fileName, so that it always fits the
// file system's name limit and a later run can tell whose it was.
std::string hiddenName(const std::string& fileName, long pid, unsigned serial);

// The path resolved against the working directory.
std::string absolutePath(const std::string& path);

// Whether the two paths name one file: one path however spelled, or one existing file
// through a link.
bool sameFile(const std::string& a, const std::string& b);

// Ends with "will not write over the " + what + ": " + out when out names the input
// file, also through another spelling or a link.
void refuseOverwrite(const std::string& out, const std::string& input, const std::string& what);
