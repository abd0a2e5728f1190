#include "plan/manifest.h"

#include <charconv>
#include <filesystem>
#include <map>

namespace fs = std::filesystem;

namespace {

std::string sizeText(std::pair<int, int> s) { return std::to_string(s.first) + "x" + std::to_string(s.second); }

std::string seconds(double v) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

std::string replaceAll(std::string s, const std::string& from, const std::string& to) {
    for (size_t p = s.find(from); p != std::string::npos; p = s.find(from, p + to.size()))
        s.replace(p, from.size(), to);
    return s;
}

std::string relativeTo(const std::string& dir, const std::string& path) {
    return fs::path(path).lexically_relative(dir).string();
}

// The options every kind of run shares: backdrop, then the input's texts in this language.
void addDress(std::vector<std::string>& args, const Appearance& look, const Caption* caption) {
    if (!look.backdrop.empty()) args.insert(args.end(), {"--backdrop", look.backdrop});
    if (!caption) return;
    args.insert(args.end(), {"--title", caption->title});
    if (!caption->subtitle.empty()) args.insert(args.end(), {"--subtitle", caption->subtitle});
    if (!look.caption.empty()) args.insert(args.end(), {"--caption", look.caption});
}

}  // namespace

std::vector<Render> planRenders(const Set& set) {
    std::vector<Render> renders;
    const std::vector<std::string> langs = set.languages.empty() ? std::vector<std::string>{""} : set.languages;
    for (const SetInput& in : set.inputs) {
        for (const std::string& lang : langs) {
            const std::string file = replaceAll(in.file, "{lang}", lang);
            const std::string base = replaceAll(in.name, "{lang}", lang);
            auto found = in.captions.find(lang);
            const Caption* caption = found == in.captions.end() ? nullptr : &found->second;
            auto target = [&](const SetOutput& out, bool video) {
                const std::string name = expandName(set.naming, base, lang, out.name) + (video ? ".mp4" : ".png");
                return (fs::path(set.outDir) / name).lexically_normal().string();
            };
            auto inputsOf = [&](const Appearance& look) {
                std::vector<std::string> v{file};
                if (look.backdropImage) v.push_back(look.backdrop);
                return v;
            };

            if (!in.recording) {
                for (const SetOutput& out : set.outputs) {
                    if (!rendersAt(in, out)) continue;
                    Render r;
                    r.outputs = {target(out, out.spin)};
                    r.inputs = inputsOf(out.look);
                    r.args = {out.spin ? "spin" : "still",
                              file,
                              r.outputs[0],
                              "--size",
                              sizeText(out.spin ? out.video : out.still),
                              "--theme",
                              out.look.theme,
                              "--layout",
                              out.closeup ? "closeup" : "full"};
                    addDress(r.args, out.look, caption);
                    r.what = r.args[0] + " " + relativeTo(set.outDir, r.outputs[0]);
                    renders.push_back(std::move(r));
                }
                continue;
            }

            // One pass over the recording per look: frame takes one theme, backdrop and text
            // for all of its outputs.
            std::map<Appearance, std::vector<const SetOutput*>> groups;
            std::vector<Appearance> order;
            for (const SetOutput& out : set.outputs) {
                if (!rendersAt(in, out)) continue;
                if (!groups.count(out.look)) order.push_back(out.look);
                groups[out.look].push_back(&out);
            }
            for (const Appearance& look : order) {
                Render r;
                r.inputs = inputsOf(look);
                r.args = {"frame", file, "--theme", look.theme};
                if (in.start) r.args.insert(r.args.end(), {"--start", seconds(*in.start)});
                if (in.max) r.args.insert(r.args.end(), {"--max", seconds(*in.max)});
                addDress(r.args, look, caption);
                r.what = "frame";
                for (const SetOutput* out : groups[look]) {
                    const char* layout =
                        out->spin ? (out->closeup ? "closeup_spin" : "spin") : (out->closeup ? "closeup" : "full");
                    r.outputs.push_back(target(*out, true));
                    r.args.insert(r.args.end(), {"--out", r.outputs.back(), sizeText(out->video), layout});
                    r.what += " " + relativeTo(set.outDir, r.outputs.back());
                }
                renders.push_back(std::move(r));
            }
        }
    }
    return renders;
}

void checkOutputs(const std::vector<Render>& renders, const std::vector<std::string>& readOnly,
                  const std::string& shown, const std::string& outDir, std::vector<std::string>& faults) {
    std::map<std::string, bool> seen;  // path -> is read by the set
    for (const std::string& p : readOnly) seen[p] = true;
    for (const Render& r : renders) {
        for (const std::string& p : r.inputs) seen[p] = true;
    }
    std::map<std::string, bool> written;
    for (const Render& r : renders) {
        for (const std::string& p : r.outputs) {
            const std::string rel = relativeTo(outDir, p);
            if (seen.count(p)) {
                faults.push_back(shown + ": naming: " + rel + " would be written over a file the set reads");
                return;
            }
            if (!written.emplace(p, true).second) {
                faults.push_back(shown + ": naming: " + rel +
                                 " would be written twice  (tell inputs, languages and outputs apart with "
                                 "{input}, {lang} and {output}, or give them names)");
                return;
            }
        }
    }
}

std::string shellWord(const std::string& text) {
    const bool plain = !text.empty() && text.find_first_not_of(
                                            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                            "0123456789_./,:@%+-") == std::string::npos;
    if (plain) return text;
    // Single quotes keep every byte as it is but the quote itself and the two line ends,
    // which ninja cannot carry in a command.
    std::string w = "'";
    for (char c : text) {
        if (c == '\'') w += "'\\''";
        else if (c == '\n') w += "'\"$lf\"'";
        else if (c == '\r') w += "'\"$cr\"'";
        else w += c;
    }
    w += "'";
    return w;
}

std::string shellCommand(const std::string& engine, const std::string& look, const std::vector<std::string>& args) {
    std::string words;
    for (const std::string& a : args) words += " " + shellWord(a);
    std::string prelude;
    // A command substitution drops trailing line feeds: the _ keeps the one wanted.
    if (words.find("\"$lf\"") != std::string::npos) prelude += "lf=$(printf '\\n_'); lf=${lf%_}; ";
    if (words.find("\"$cr\"") != std::string::npos) prelude += "cr=$(printf '\\r_'); cr=${cr%_}; ";
    return prelude + "TREVALO_LOOK=" + shellWord(look) + " " + shellWord(engine) + words;
}

std::string ninjaValue(const std::string& text) { return replaceAll(text, "$", "$$"); }

std::string ninjaPath(const std::string& path) {
    std::string s;
    for (char c : path) {
        if (c == '$' || c == ' ' || c == ':') s += '$';
        s += c;
    }
    return s;
}

std::string manifestText(const Set& set, const std::vector<Render>& renders, const ManifestPaths& paths) {
    const std::string engine = ninjaPath(paths.engine), look = ninjaPath(paths.look);
    std::string m;
    m += "# Planned by pellmar from " + set.path + "; run with ninja -f <this file> [-k 0].\n";
    // The build log (command lines and times of the last run) lives beside the outputs,
    // so a run from any folder knows what the last one did.
    m += "ninja_required_version = 1.10\n";
    m += "builddir = " + ninjaValue(set.outDir) + "\n\n";
    m += "rule pellmar\n  command = $cmd\n  description = $what\n\n";
    if (!paths.self.empty()) {
        m += "rule plan\n  command = $cmd\n  description = plan $what\n  generator = 1\n\n";
        m += "build " + ninjaPath(paths.self) + ": plan " + ninjaPath(set.path) + " | " + engine + "\n";
        m += "  cmd = " + ninjaValue(shellCommand(paths.engine, paths.look, {"plan", set.path, paths.selfAbsolute})) +
             "\n";
        m += "  what = " + ninjaValue(paths.self) + "\n\n";
    }
    for (const Render& r : renders) {
        m += "build";
        for (const std::string& o : r.outputs) m += " " + ninjaPath(o);
        m += ": pellmar " + ninjaPath(r.inputs[0]) + " | " + engine + " " + look;
        for (size_t i = 1; i < r.inputs.size(); ++i) m += " " + ninjaPath(r.inputs[i]);
        m += "\n  cmd = " + ninjaValue(shellCommand(paths.engine, paths.look, r.args)) + "\n";
        m += "  what = " + ninjaValue(r.what) + "\n";
    }
    // Only the renders: the manifest renews itself before the build, not as a target.
    m += "\n";
    for (const Render& r : renders) {
        m += "default";
        for (const std::string& o : r.outputs) m += " " + ninjaPath(o);
        m += "\n";
    }
    return m;
}
