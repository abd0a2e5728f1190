#include "support/support.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;

std::string slurp(int fd) {
    std::string s;
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) s.append(buf, size_t(n));
    return s;
}

namespace {

Ran spawn(const std::string& prog, const std::vector<std::string>& args, const std::vector<std::string>& extraEnv) {
    std::vector<std::string> envs;
    for (char** e = environ; *e; ++e) {
        std::string kv = *e;
        bool replaced = false;
        for (const auto& x : extraEnv)
            if (kv.compare(0, x.find('=') + 1, x, 0, x.find('=') + 1) == 0) replaced = true;
        if (!replaced) envs.push_back(kv);
    }
    for (const auto& x : extraEnv) envs.push_back(x);
    std::vector<char*> envp, argv;
    for (auto& e : envs) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> all{prog};
    all.insert(all.end(), args.begin(), args.end());
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);

    int outp[2], errp[2];
    if (pipe(outp) || pipe(errp)) std::abort();
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, outp[1], 1);
    posix_spawn_file_actions_adddup2(&fa, errp[1], 2);
    posix_spawn_file_actions_addclose(&fa, outp[0]);
    posix_spawn_file_actions_addclose(&fa, errp[0]);
    pid_t pid;
    Ran r;
    if (posix_spawnp(&pid, prog.c_str(), &fa, nullptr, argv.data(), envp.data()) != 0) {
        r.err = "spawn failed";
        return r;
    }
    posix_spawn_file_actions_destroy(&fa);
    close(outp[1]);
    close(errp[1]);
    std::thread t([&] { r.err = slurp(errp[0]); });
    r.out = slurp(outp[0]);
    t.join();
    close(outp[0]);
    close(errp[0]);
    int st = 0;
    waitpid(pid, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    return r;
}

struct TempRoot {
    std::string path;
    TempRoot() {
        std::string tmpl = (fs::temp_directory_path() / "pellmar-test-XXXXXX").string();
        path = mkdtemp(tmpl.data());
    }
    ~TempRoot() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

}  // namespace

Ran pellmar(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    return spawn(PELLMAR_BIN, args, env);
}

Ran shell(const std::string& command) { return spawn("/bin/sh", {"-c", command}, {}); }

std::string tempDir() {
    static TempRoot root;
    static int counter = 0;
    std::string p = root.path + "/" + std::to_string(++counter);
    fs::create_directories(p);
    return p;
}

std::string sourceDir() { return TREVALO_SOURCE_DIR; }
std::string shippedLook() { return sourceDir() + "/resources/look.conf"; }

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

bool exists(const std::string& path) { return fs::exists(path); }

#include "look/look.h"

std::string lookWith(const std::vector<std::pair<std::string, std::string>>& overrides) {
    std::string text = readFile(shippedLook());
    for (const auto& [k, v] : overrides) text += "\n" + k + "=\"" + v + "\"\n";
    return text;
}

ScopedLook::ScopedLook(std::initializer_list<std::pair<std::string, std::string>> overrides) {
    installLook(Look::parse(lookWith(std::vector<std::pair<std::string, std::string>>(overrides))));
}

ScopedLook::~ScopedLook() { installLook(Look::parse(readFile(shippedLook()))); }
