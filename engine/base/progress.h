#pragma once
#include <chrono>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// Whether a command also reports its progress to the program that started it, as lines
// "progress DONE TOTAL" (frames over all outputs) on standard output.
enum class Report { none, lines };

// How far one output is: frames written and frames expected.
struct FrameCount {
    std::string name;
    long long done = 0, total = 0;
};

// The progress of a long command, counted in frames per output. When standard error is a
// terminal it keeps one line there up to date and erases it again when the work ends (or
// the process dies), so the terminal is left exactly as without it. Callable from any
// thread.
class Progress {
public:
    Progress(std::string command, std::vector<FrameCount> outputs, Report report);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Output i has written `done` frames; a total that turns out too small grows with it.
    void reached(size_t i, long long done);
    // Output i will write `total` frames in all, once that is known for sure.
    void expect(size_t i, long long total);
    // Erases the line and reports the last count; call it before printing "saved " lines.
    void finish();

private:
    void show(bool force);

    std::mutex m_lock;
    std::string m_command;
    std::vector<FrameCount> m_outputs;
    Report m_report;
    bool m_terminal;
    bool m_finished = false;
    std::chrono::steady_clock::time_point m_start, m_shown;
    std::pair<long long, long long> m_reported{-1, -1};  // the last line on standard output
};

// The terminal line, cut to `columns` characters:
// "frame: a.mp4 120/300 · b.mp4 240/600 · 0:12 elapsed · 0:20 left".
std::string progressLine(const std::string& command, const std::vector<FrameCount>& outputs, double elapsed,
                         int columns);
// Seconds as m:ss, or h:mm:ss from an hour on.
std::string clockText(double seconds);

// Erases a progress line that is showing and keeps any other from appearing; die() calls
// it before it writes its message.
void endProgressLine();
// The same for a signal handler: no lock, only write(2).
void eraseProgressLineOnSignal();
