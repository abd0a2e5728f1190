#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "base/commands.h"
#include "base/die.h"
#include "base/pending.h"
#include "look/look.h"
#include "plan/manifest.h"

namespace fs = std::filesystem;

namespace {

// Where standard output goes when it is a file: that file is the manifest, and it can
// renew itself. A terminal or a pipe cannot.
std::string stdoutFile() {
    struct stat st {};
    if (fstat(STDOUT_FILENO, &st) != 0 || !S_ISREG(st.st_mode)) return "";
    std::error_code ec;
    const fs::path p = fs::read_symlink("/proc/self/fd/1", ec);
    return ec ? "" : p.string();
}

// Written beside the target under a hidden name and renamed over it, so that a failed
// renewal during a build leaves the last whole manifest, never an empty one.
void replaceFile(const std::string& path, const std::string& text) {
    const fs::path target(path);
    std::string tmp = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = mkstemp(tmp.data());
    if (fd < 0) die("cannot write " + path + ": " + std::strerror(errno));
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += size_t(n);
    }
    const bool ok = done == text.size() && fchmod(fd, 0644) == 0 && fsync(fd) == 0;
    const int err = errno;
    if (close(fd) != 0 || !ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
        const int why = ok ? errno : err;
        unlink(tmp.c_str());
        die("cannot write " + path + ": " + std::strerror(why));
    }
}

bool lineSafe(const std::string& s) { return s.find_first_of("\n\r|") == std::string::npos; }

}  // namespace

void cmd_plan(const Args& args) {
    for (const std::string& a : args)
        if (a.rfind("--", 0) == 0) die("unknown option: " + a);
    if (args.empty() || args.size() > 2) die(usagePlan);
    const std::string& setPath = args[0];

    ManifestPaths paths;
    std::error_code ec;
    paths.engine = fs::read_symlink("/proc/self/exe", ec).string();
    if (ec) die("cannot find the running pellmar: " + ec.message());
    // The look this run read, so that every render (and every renewal) uses it too.
    paths.look = fs::absolute(Look::pathFor(program_invocation_name)).lexically_normal().string();
    paths.selfAbsolute = args.size() == 2 ? fs::absolute(args[1]).lexically_normal().string() : stdoutFile();
    if (!paths.selfAbsolute.empty())
        paths.self = fs::path(paths.selfAbsolute).lexically_proximate(fs::current_path()).string();
    for (const std::string& p : {setPath, paths.engine, paths.look, paths.selfAbsolute})
        if (!lineSafe(p)) die("cannot plan with a line end or | in a path: " + p);

    std::vector<std::string> faults;
    const Set set = readSet(setPath, faults);
    std::vector<Render> renders;
    if (faults.empty()) {
        renders = planRenders(set);
        std::vector<std::string> readOnly{set.path};
        if (!paths.selfAbsolute.empty()) readOnly.push_back(paths.selfAbsolute);
        checkOutputs(renders, readOnly, setPath, set.outDir, faults);
    }
    if (args.size() == 2) {
        // The manifest replaces what is at its path: never a file the set or its runs read.
        const std::string& self = paths.selfAbsolute;
        bool input = false;
        for (const Render& r : renders)
            for (const std::string& p : r.inputs) input = input || sameFile(self, p);
        if (sameFile(self, set.path)) faults.push_back("will not write over the set: " + args[1]);
        else if (input) faults.push_back("will not write over an input of the set: " + args[1]);
        else if (sameFile(self, paths.engine)) faults.push_back("will not write over the engine: " + args[1]);
        else if (sameFile(self, paths.look)) faults.push_back("will not write over the look file: " + args[1]);
    }
    // All faults at once, one line each: a set is fixed in one round, not one per run.
    if (!faults.empty()) die(faults);

    const std::string text = manifestText(set, renders, paths);
    if (args.size() == 2) {
        replaceFile(paths.selfAbsolute, text);
        size_t outputs = 0;
        for (const Render& r : renders) outputs += r.outputs.size();
        reportSaved(paths.selfAbsolute,
                    std::to_string(outputs) + " outputs in " + std::to_string(renders.size()) + " runs");
        return;
    }
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
        die("cannot write the plan to standard output");
}

void cmd_sizes(const Args& args) {
    if (!args.empty()) die(usageSizes);
    size_t width = 0;
    for (const NamedSize& s : namedSizes()) width = std::max(width, s.name.size());
    for (const NamedSize& s : namedSizes()) std::printf("%-*s  %dx%d\n", int(width), s.name.c_str(), s.w, s.h);
}
