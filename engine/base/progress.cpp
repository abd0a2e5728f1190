#include "base/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/die.h"

namespace {

// The one line on the terminal is process-wide: die() and signals must find it.
std::mutex g_lineLock;
std::atomic<bool> g_lineShown{false};
bool g_lineClosed = false;

// Moves to the start of the line and clears it.
constexpr char eraseSeq[] = "\r\x1b[K";

void writeAll(int fd, const char* data, size_t n) {
    while (n > 0) {
        const ssize_t k = ::write(fd, data, n);
        if (k <= 0) return;
        data += k;
        n -= size_t(k);
    }
}

bool stderrIsTerminal() {
    const char* term = std::getenv("TERM");
    return ::isatty(STDERR_FILENO) && !(term && std::strcmp(term, "dumb") == 0);
}

int terminalColumns() {
    winsize ws{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    return 80;
}

// The file name of a path, with control characters shown as "?" so that the line stays one.
std::string shownName(const std::string& path) {
    std::string name = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
    for (char& c : name)
        if ((unsigned char)c < 0x20 || c == 0x7f) c = '?';
    return name;
}

// Cuts UTF-8 text to at most n characters, never inside one.
std::string cutTo(const std::string& s, int n) {
    int chars = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if (((unsigned char)s[i] & 0xc0) == 0x80) continue;
        if (chars++ == n) return s.substr(0, i);
    }
    return s;
}

}  // namespace

std::string clockText(double seconds) {
    const long long s = std::max(0LL, (long long)std::llround(seconds));
    char buf[32];
    if (s >= 3600) std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    else std::snprintf(buf, sizeof buf, "%lld:%02lld", s / 60, s % 60);
    return buf;
}

std::string progressLine(const std::string& command, const std::vector<FrameCount>& outputs, double elapsed,
                         int columns) {
    std::string line = command + ":";
    long long done = 0, total = 0;
    for (size_t i = 0; i < outputs.size(); ++i) {
        const FrameCount& o = outputs[i];
        line += (i ? " · " : " ") + shownName(o.name) + " " + std::to_string(o.done) + "/" + std::to_string(o.total);
        done += o.done;
        total += std::max(o.done, o.total);
    }
    line += " · " + clockText(elapsed) + " elapsed";
    if (done > 0 && total > done) line += " · " + clockText(elapsed * double(total - done) / double(done)) + " left";
    // The last column stays free: a line that fills it wraps on some terminals and can no
    // longer be erased with a carriage return.
    return cutTo(line, std::max(1, columns - 1));
}

Progress::Progress(std::string command, std::vector<FrameCount> outputs, Report report)
    : m_command(std::move(command)), m_outputs(std::move(outputs)), m_report(report), m_terminal(stderrIsTerminal()),
      m_start(std::chrono::steady_clock::now()) {
    std::lock_guard lock(m_lock);
    show(true);
}

Progress::~Progress() {
    if (!m_terminal) return;
    std::lock_guard line(g_lineLock);
    if (g_lineShown.exchange(false)) writeAll(STDERR_FILENO, eraseSeq, sizeof eraseSeq - 1);
}

void Progress::reached(size_t i, long long done) {
    std::lock_guard lock(m_lock);
    if (m_finished || i >= m_outputs.size()) return;
    m_outputs[i].done = done;
    m_outputs[i].total = std::max(m_outputs[i].total, done);
    show(false);
}

void Progress::expect(size_t i, long long total) {
    std::lock_guard lock(m_lock);
    if (i < m_outputs.size()) m_outputs[i].total = std::max(total, m_outputs[i].done);
}

void Progress::finish() {
    std::lock_guard lock(m_lock);
    if (m_finished) return;
    for (FrameCount& o : m_outputs) o.total = o.done;
    m_finished = true;
    show(true);
    if (!m_terminal) return;
    std::lock_guard line(g_lineLock);
    if (g_lineShown.exchange(false)) writeAll(STDERR_FILENO, eraseSeq, sizeof eraseSeq - 1);
}

// Called with m_lock held. Redraws at most five times a second unless forced.
void Progress::show(bool force) {
    using namespace std::chrono;
    const auto now = steady_clock::now();
    if (!force && now - m_shown < milliseconds(200)) return;
    m_shown = now;

    if (m_report == Report::lines) {
        long long done = 0, total = 0;
        for (const FrameCount& o : m_outputs) done += o.done, total += o.total;
        if (done != m_reported.first || total != m_reported.second) {
            std::printf("progress %lld %lld\n", done, total);
            std::fflush(stdout);
            m_reported = {done, total};
        }
    }
    if (!m_terminal || m_finished) return;
    const double elapsed = duration<double>(now - m_start).count();
    const std::string text = eraseSeq + progressLine(m_command, m_outputs, elapsed, terminalColumns());
    std::lock_guard line(g_lineLock);
    if (g_lineClosed) return;
    catchEndingSignals();
    writeAll(STDERR_FILENO, text.data(), text.size());
    g_lineShown = true;
}

void eraseProgressLineOnSignal() {
    if (g_lineShown.load()) writeAll(STDERR_FILENO, eraseSeq, sizeof eraseSeq - 1);
}

void endProgressLine() {
    std::lock_guard line(g_lineLock);
    g_lineClosed = true;
    if (g_lineShown.exchange(false)) writeAll(STDERR_FILENO, eraseSeq, sizeof eraseSeq - 1);
}
