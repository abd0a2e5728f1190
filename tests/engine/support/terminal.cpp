#include "support/terminal.h"

#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

std::string screenOf(const std::string& bytes) {
    std::vector<std::string> lines(1);
    size_t col = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        std::string& line = lines.back();
        if (c == '\r') {
            col = 0;
        } else if (c == '\n') {
            lines.emplace_back();
            col = 0;
        } else if (c == '\x1b' && bytes.compare(i, 3, "\x1b[K") == 0) {
            line.resize(std::min(line.size(), col));
            i += 2;
        } else {
            if (col < line.size()) line[col] = c;
            else line.append(col - line.size(), ' ').push_back(c);
            ++col;
        }
    }
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    std::string screen;
    for (const std::string& l : lines) screen += l + "\n";
    return screen;
}

Ran onTerminal(const std::function<void()>& body, int columns) {
    int master = -1, slave = -1, out[2];
    winsize ws{};
    ws.ws_col = (unsigned short)columns;
    ws.ws_row = 24;
    if (openpty(&master, &slave, nullptr, nullptr, &ws) != 0 || pipe(out) != 0) std::abort();
    const pid_t pid = fork();
    if (pid < 0) std::abort();
    if (pid == 0) {
        dup2(slave, STDERR_FILENO);
        dup2(out[1], STDOUT_FILENO);
        close(master);
        close(slave);
        close(out[0]);
        close(out[1]);
        body();
        std::fflush(stdout);
        _exit(0);
    }
    close(slave);
    close(out[1]);
    Ran r;
    std::thread t([&] { r.out = slurp(out[0]); });
    r.err = slurp(master);
    t.join();
    close(master);
    close(out[0]);
    int st = 0;
    waitpid(pid, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    return r;
}

Ran pellmarOnTerminal(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    return onTerminal([&] {
        for (const std::string& kv : env)
            setenv(kv.substr(0, kv.find('=')).c_str(), kv.substr(kv.find('=') + 1).c_str(), 1);
        std::vector<std::string> all{PELLMAR_BIN};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(PELLMAR_BIN, argv.data());
        _exit(127);
    });
}
