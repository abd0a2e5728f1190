#include "plan/setfile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <set>

#include "base/inputfile.h"

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

namespace {

// A set names inputs, outputs and captions: far below this, which only keeps a wrong
// path (a log, a disk image) from filling memory.
constexpr size_t maxSetBytes = size_t(16) << 20;

const char* const shapeNames[] = {"vertical", "horizontal", "horizontal_closeup", "square", "square_closeup"};

std::string at(const std::string& where, const std::string& key) { return where.empty() ? key : where + "." + key; }
std::string item(const std::string& where, size_t i) { return where + "[" + std::to_string(i) + "]"; }

std::string shown(const Json& j) {
    if (j.is_object()) return "an object";
    if (j.is_array()) return "a list";
    return j.dump();
}

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

bool isHexColour(const std::string& s) {
    if (s.size() != 7 || s[0] != '#') return false;
    for (size_t i = 1; i < 7; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(s[i]))) return false;
    return true;
}

// Outside a set's paths: bytes that neither ninja nor a file name list can carry.
bool pathSafe(const std::string& s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7f || c == '|') return false;
    return true;
}

std::string replaceAll(std::string s, const std::string& from, const std::string& to) {
    for (size_t p = s.find(from); p != std::string::npos; p = s.find(from, p + to.size()))
        s.replace(p, from.size(), to);
    return s;
}

// Reads one set file, collecting every fault rather than stopping at the first:
// a pipeline that fails on a set should be fixed in one round.
class Reader {
public:
    Reader(std::string shown, std::string folder, std::vector<std::string>& faults)
        : m_shown(std::move(shown)), m_folder(std::move(folder)), m_faults(faults) {}

    void fault(const std::string& where, const std::string& what) {
        m_faults.push_back(m_shown + ": " + (where.empty() ? "" : where + ": ") + what);
    }

    // A misspelt field would otherwise be silently ignored.
    bool object(const Json& j, const std::string& where, std::initializer_list<const char*> known) {
        if (!j.is_object()) {
            fault(where, "want an object, got " + shown(j));
            return false;
        }
        std::vector<std::string> names(known.begin(), known.end());
        for (const auto& [key, value] : j.items())
            if (std::find(names.begin(), names.end(), key) == names.end())
                fault(at(where, key), "unknown field  (want " + joinDots(names) + ")");
        return true;
    }

    const Json* text(const Json& j, const std::string& key, const std::string& where, bool needed) {
        auto it = j.find(key);
        if (it == j.end()) {
            if (needed) fault(where, key + " is missing");
            return nullptr;
        }
        if (!it->is_string()) {
            fault(at(where, key), "want text, got " + shown(*it));
            return nullptr;
        }
        if (it->get_ref<const std::string&>().empty()) {
            fault(where, key + " is empty");
            return nullptr;
        }
        return &*it;
    }

    std::optional<std::string> word(const Json& j, const std::string& key, const std::string& where,
                                    std::vector<std::string> choices) {
        const Json* v = text(j, key, where, false);
        if (!v) return std::nullopt;
        const std::string& s = v->get_ref<const std::string&>();
        if (std::find(choices.begin(), choices.end(), s) == choices.end()) {
            fault(at(where, key), "want " + joinDots(choices) + ", got " + s);
            return std::nullopt;
        }
        return s;
    }

    // A path taken from the set file's folder, made absolute.
    std::optional<std::string> path(const Json& j, const std::string& key, const std::string& where, bool needed) {
        const Json* v = text(j, key, where, needed);
        if (!v) return std::nullopt;
        const std::string& s = v->get_ref<const std::string&>();
        if (!pathSafe(s)) {
            fault(at(where, key), "a path here cannot hold control characters or |");
            return std::nullopt;
        }
        return (fs::path(m_folder) / s).lexically_normal().string();
    }

    void mustExist(const std::string& file, const std::string& where) {
        std::error_code ec;
        if (!fs::is_regular_file(file, ec)) fault(where, "no file at " + file);
    }

    // A name that becomes part of a file name.
    std::optional<std::string> name(const Json& j, const std::string& key, const std::string& where) {
        const Json* v = text(j, key, where, false);
        if (!v) return std::nullopt;
        const std::string& s = v->get_ref<const std::string&>();
        if (!pathSafe(s) || s.find('/') != std::string::npos || s == "." || s == "..") {
            fault(at(where, key), "a name here cannot hold /, | or control characters, got " + shown(*v));
            return std::nullopt;
        }
        return s;
    }

    void appearance(const Json& j, const std::string& where, Appearance& a) {
        if (auto t = word(j, "theme", where, {"dark", "light"})) a.theme = *t;
        if (auto c = word(j, "caption", where, {"top", "bottom"})) a.caption = *c;
        const Json* b = text(j, "backdrop", where, false);
        if (!b) return;
        const std::string& s = b->get_ref<const std::string&>();
        const size_t comma = s.find(',');
        if (isHexColour(s) || (comma == 7 && isHexColour(s.substr(0, 7)) && isHexColour(s.substr(8)))) {
            a.backdrop = s;
            a.backdropImage = false;
        } else if (s[0] == '#') {
            fault(at(where, "backdrop"), "want #RRGGBB, #RRGGBB,#RRGGBB or a picture, got " + s);
        } else if (auto file = path(j, "backdrop", where, false)) {
            mustExist(*file, at(where, "backdrop"));
            a.backdrop = *file;
            a.backdropImage = true;
        }
    }

private:
    std::string m_shown, m_folder;
    std::vector<std::string>& m_faults;
};

// Keys given twice in one object: the parser keeps the last silently, which would
// drop, say, a language's titles without a word.
class DuplicateKeys {
public:
    explicit DuplicateKeys(Reader& r) : m_reader(r) {}

    bool operator()(int, Json::parse_event_t event, Json& parsed) {
        using E = Json::parse_event_t;
        if ((event == E::object_start || event == E::array_start || event == E::value) && !m_open.empty() &&
            m_open.back().list)
            ++m_open.back().count;
        if (event == E::object_start || event == E::array_start)
            m_open.push_back(Open{event == E::array_start, 0, {}, {}});
        if (event == E::object_end || event == E::array_end) m_open.pop_back();
        if (event == E::key) {
            Open& top = m_open.back();
            top.key = parsed.get<std::string>();
            if (!top.keys.insert(top.key).second) m_reader.fault(where(), "\"" + top.key + "\" is given twice");
        }
        return true;
    }

private:
    struct Open {
        bool list = false;
        size_t count = 0;
        std::string key;
        std::set<std::string> keys;
    };
    // The field that holds the innermost open object.
    std::string where() const {
        std::string w;
        for (size_t k = 0; k + 1 < m_open.size(); ++k)
            w = m_open[k].list ? item(w, m_open[k].count - 1) : at(w, m_open[k].key);
        return w;
    }
    Reader& m_reader;
    std::vector<Open> m_open;
};

void readNaming(Reader& r, const Json& top, Set& set) {
    set.naming = set.languages.empty() ? "{input}_{output}" : "{lang}/{input}_{output}";
    const Json* v = r.text(top, "naming", "", false);
    if (!v) return;
    const std::string& s = v->get_ref<const std::string&>();
    set.naming = s;
    if (!pathSafe(s)) return r.fault("naming", "a path here cannot hold control characters or |");
    for (size_t p = s.find('{'); p != std::string::npos; p = s.find('{', p + 1)) {
        const size_t end = s.find('}', p);
        if (end == std::string::npos) return r.fault("naming", "a { without its }, in " + s);
        const std::string word = s.substr(p + 1, end - p - 1);
        if (word != "input" && word != "lang" && word != "output")
            r.fault("naming", "unknown placeholder {" + word + "}  (want {input}·{lang}·{output})");
        if (word == "lang" && set.languages.empty()) r.fault("naming", "{lang} needs languages");
    }
    for (const auto& part : fs::path(s))
        if (part.empty() || part == ".." || part == "/")
            return r.fault("naming", "want a file path inside out, got " + s);
}

void readLanguages(Reader& r, const Json& top, Set& set) {
    auto it = top.find("languages");
    if (it == top.end()) return;
    if (!it->is_array() || it->empty()) return r.fault("languages", "want a list of language codes, got " + shown(*it));
    for (size_t i = 0; i < it->size(); ++i) {
        const Json& code = (*it)[i];
        const std::string s = code.is_string() ? code.get<std::string>() : "";
        bool ok = !s.empty() && std::isalnum(static_cast<unsigned char>(s[0]));
        for (unsigned char c : s) ok = ok && (std::isalnum(c) || c == '-' || c == '_');
        if (!ok) r.fault(item("languages", i), "want a language code such as en or pt-BR, got " + shown(code));
        else if (std::find(set.languages.begin(), set.languages.end(), s) != set.languages.end())
            r.fault(item("languages", i), s + " is listed twice");
        else set.languages.push_back(s);
    }
}

void readCaptions(Reader& r, const Json& titles, const std::string& where, const Set& set, SetInput& in) {
    if (set.languages.empty()) return r.fault(where, "titles need languages");
    if (!titles.is_object()) return r.fault(where, "want an object of languages, got " + shown(titles));
    for (const auto& [lang, entry] : titles.items()) {
        const std::string w = at(where, lang);
        if (std::find(set.languages.begin(), set.languages.end(), lang) == set.languages.end()) {
            r.fault(w, lang + " is not one of languages");
            continue;
        }
        if (!r.object(entry, w, {"title", "subtitle"})) continue;
        Caption c;
        // An argument ends at a NUL, so such a text could not reach the engine whole.
        auto take = [&](const char* key, bool needed, std::string& into) {
            const Json* t = r.text(entry, key, w, needed);
            if (!t) return;
            into = t->get<std::string>();
            if (into.find('\0') != std::string::npos) r.fault(at(w, key), "a text here cannot hold a NUL character");
        };
        take("title", true, c.title);
        take("subtitle", false, c.subtitle);
        in.captions[lang] = c;
    }
    for (const std::string& lang : set.languages)
        if (!titles.contains(lang)) r.fault(where, "no titles for " + lang);
}

void readSeconds(Reader& r, const Json& j, const char* key, const std::string& where, const SetInput& in,
                 std::optional<double>& out) {
    auto it = j.find(key);
    if (it == j.end()) return;
    if (!in.recording) return r.fault(at(where, key), "only a recording has " + std::string(key));
    if (!it->is_number() || !(it->get<double>() >= 0) || !std::isfinite(it->get<double>()))
        return r.fault(at(where, key), "want seconds, got " + shown(*it));
    out = it->get<double>();
}

SetInput readInput(Reader& r, const Json& j, const std::string& where, const Set& set) {
    SetInput in;
    if (!r.object(j, where, {"file", "name", "titles", "start", "max", "outputs"})) return in;
    if (auto file = r.path(j, "file", where, true)) {
        in.file = *file;
        const std::string ext = lower(fs::path(in.file).extension().string());
        in.recording = ext == ".mov" || ext == ".mp4" || ext == ".m4v";
        in.name = fs::path(in.file).stem().string();
        if (in.file.find("{lang}") != std::string::npos && set.languages.empty())
            r.fault(at(where, "file"), "{lang} needs languages");
        else
            for (const std::string& lang : set.languages.empty() ? std::vector<std::string>{""} : set.languages)
                r.mustExist(replaceAll(in.file, "{lang}", lang), at(where, "file"));
    }
    if (auto name = r.name(j, "name", where)) in.name = *name;
    if (auto titles = j.find("titles"); titles != j.end()) readCaptions(r, *titles, at(where, "titles"), set, in);
    readSeconds(r, j, "start", where, in, in.start);
    readSeconds(r, j, "max", where, in, in.max);
    if (auto outs = j.find("outputs"); outs != j.end()) {
        if (!outs->is_array() || outs->empty())
            r.fault(at(where, "outputs"), "want a list of output names, got " + shown(*outs));
        else
            for (size_t i = 0; i < outs->size(); ++i) {
                const Json& name = (*outs)[i];
                const bool known = name.is_string() &&
                                   std::any_of(set.outputs.begin(), set.outputs.end(),
                                               [&](auto& o) { return o.name == name.get_ref<const std::string&>(); });
                if (known) in.outputs.push_back(name.get<std::string>());
                else r.fault(item(at(where, "outputs"), i), "no output is named " + shown(name));
            }
    }
    return in;
}

SetOutput readOutput(Reader& r, const Json& j, const std::string& where, const Appearance& base) {
    SetOutput out;
    out.look = base;
    if (!r.object(j, where, {"name", "shape", "size", "layout", "spin", "theme", "backdrop", "caption"})) return out;
    const bool hasShape = j.contains("shape"), hasSize = j.contains("size");
    if (hasShape && hasSize) r.fault(at(where, "size"), "give a shape or a size, not both");
    if (hasShape && j.contains("layout")) r.fault(at(where, "layout"), "a shape sets its own layout");
    if (!hasShape && !hasSize) r.fault(where, "shape or size is missing");
    if (auto shape = r.word(j, "shape", where, {std::begin(shapeNames), std::end(shapeNames)})) {
        // As the window renders them: videos at the shape's size, stills at twice it.
        const bool wide = shape->rfind("horizontal", 0) == 0;
        out.video = {wide ? 1920 : 1080, *shape == "vertical" ? 1920 : 1080};
        out.still = {out.video.first * 2, out.video.second * 2};
        out.closeup = shape->find("closeup") != std::string::npos;
        out.name = *shape;
    }
    if (const Json* size = r.text(j, "size", where, false)) {
        const std::string& s = size->get_ref<const std::string&>();
        if (auto wh = readSize(s)) {
            out.still = out.video = *wh;
            out.name = s;
        } else {
            r.fault(at(where, "size"), "want WxH or a name that pellmar sizes lists, got " + s);
        }
    }
    if (auto layout = r.word(j, "layout", where, {"full", "closeup"})) out.closeup = *layout == "closeup";
    if (auto spin = j.find("spin"); spin != j.end()) {
        if (spin->is_boolean()) out.spin = spin->get<bool>();
        else r.fault(at(where, "spin"), "want true or false, got " + shown(*spin));
    }
    if (out.spin) out.name += "_spin";
    if (auto name = r.name(j, "name", where)) out.name = *name;
    r.appearance(j, where, out.look);
    return out;
}

}  // namespace

bool rendersAt(const SetInput& in, const SetOutput& out) {
    return in.outputs.empty() || std::find(in.outputs.begin(), in.outputs.end(), out.name) != in.outputs.end();
}

std::string expandName(const std::string& pattern, const std::string& input, const std::string& lang,
                       const std::string& output) {
    std::string s;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const std::pair<const char*, const std::string*> words[] = {
            {"{input}", &input}, {"{lang}", &lang}, {"{output}", &output}};
        bool done = false;
        for (const auto& [word, value] : words) {
            if (pattern.compare(i, std::strlen(word), word) == 0) {
                s += *value;
                i += std::strlen(word) - 1;
                done = true;
                break;
            }
        }
        if (!done) s += pattern[i];
    }
    return s;
}

Set readSet(const std::string& path, std::vector<std::string>& faults) {
    Set set;
    set.path = fs::absolute(path).lexically_normal().string();
    Reader r(path, fs::path(set.path).parent_path().string(), faults);
    const WholeFile file = readWholeFile(path, maxSetBytes);
    if (!file.text) {
        faults.push_back(file.fault.empty() ? "cannot read " + path : "set file " + file.fault + ": " + path);
        return set;
    }
    Json top;
    try {
        DuplicateKeys duplicates(r);
        top = Json::parse(*file.text, std::ref(duplicates));
    } catch (const Json::exception& e) {
        // "[json.exception.parse_error.101] parse error at line 2, column 3: ..." keeps
        // its position and reason.
        std::string why = e.what();
        const size_t p = why.find("] ");
        why = p == std::string::npos ? why : why.substr(p + 2);
        if (why.rfind("parse error at ", 0) == 0) why = why.substr(15);
        // What it last read may be a broken byte sequence: the position says enough.
        why = why.substr(0, why.find("; last read:"));
        r.fault("", why);
        return set;
    }
    if (!r.object(top, "", {"out", "naming", "languages", "theme", "backdrop", "caption", "outputs", "inputs"}))
        return set;
    if (auto out = r.path(top, "out", "", true)) set.outDir = *out;
    readLanguages(r, top, set);
    readNaming(r, top, set);
    Appearance base;
    r.appearance(top, "", base);

    auto list = [&](const char* key) -> const Json* {
        auto it = top.find(key);
        if (it == top.end()) {
            r.fault("", std::string(key) + " is missing");
            return nullptr;
        }
        if (!it->is_array()) {
            r.fault(key, "want a list of objects, got " + shown(*it));
            return nullptr;
        }
        if (it->empty()) r.fault("", std::string(key) + " is empty");
        return &*it;
    };
    // Outputs first: an input may name the outputs it wants.
    if (const Json* outputs = list("outputs"))
        for (size_t i = 0; i < outputs->size(); ++i) {
            set.outputs.push_back(readOutput(r, (*outputs)[i], item("outputs", i), base));
            for (size_t k = 0; k < i; ++k)
                if (!set.outputs[i].name.empty() && set.outputs[k].name == set.outputs[i].name) {
                    r.fault(item("outputs", i), "outputs[" + std::to_string(k) + "] is named " + set.outputs[i].name +
                                                    " too: give one a name");
                    break;
                }
        }
    if (const Json* inputs = list("inputs"))
        for (size_t i = 0; i < inputs->size(); ++i)
            set.inputs.push_back(readInput(r, (*inputs)[i], item("inputs", i), set));

    // 4:2:0 video cannot hold odd sides.
    for (size_t i = 0; i < set.outputs.size(); ++i) {
        const auto [w, h] = set.outputs[i].video;
        const bool video =
            set.outputs[i].spin || std::any_of(set.inputs.begin(), set.inputs.end(), [&](const SetInput& in) {
                return in.recording && rendersAt(in, set.outputs[i]);
            });
        if (video && (w % 2 || h % 2))
            r.fault(item("outputs", i) + ".size",
                    "video wants even sides, got " + std::to_string(w) + "x" + std::to_string(h));
    }
    return set;
}
