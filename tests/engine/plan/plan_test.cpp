#include <gtest/gtest.h>

#include <sys/stat.h>

#include "plan/manifest.h"
#include "support/support.h"

namespace {

// A folder holding a screenshot, a recording and a backdrop picture (empty files: the
// plan only checks that inputs exist), and the set text as set.json.
struct SetDir {
    std::string dir = tempDir();
    SetDir() {
        for (const char* f : {"shot.png", "rec.mov", "wall.jpg", "en.png", "de.png"}) writeFile(dir + "/" + f, "");
    }
    Set read(const std::string& json, std::vector<std::string>& faults) const {
        writeFile(dir + "/set.json", json);
        return readSet(dir + "/set.json", faults);
    }
    std::vector<std::string> faults(const std::string& json) const {
        std::vector<std::string> f;
        read(json, f);
        for (std::string& line : f) line = line.substr(dir.size() + 1);  // "set.json: ..."
        return f;
    }
    std::vector<Render> renders(const std::string& json) const {
        std::vector<std::string> f;
        const Set set = read(json, f);
        EXPECT_EQ(f, std::vector<std::string>{});
        return planRenders(set);
    }
};

const char* const valid = R"({"out": "store", "languages": ["en", "de"],
  "outputs": [{"size": "iphone-6.9"}],
  "inputs": [{"file": "shot.png", "titles": {"en": {"title": "Plan"}, "de": {"title": "Planen"}}}]})";

}  // namespace

TEST(SetFile, EachFaultIsOneLineNamingItsField) {
    const SetDir d;
    using V = std::vector<std::string>;
    const std::pair<std::string, V> cases[] = {
        {valid, {}},
        {"{\"out\": \"s\",\n \"inputs\": [1,]}",
         {"set.json: line 2, column 15: syntax error while parsing value - unexpected ']'; expected '[', '{', or a "
          "literal"}},
        {"{\"out\": \"\xff\"}",
         {"set.json: line 1, column 10: syntax error while parsing value - invalid string: "
          "ill-formed UTF-8 byte"}},
        {"[]", {"set.json: want an object, got a list"}},
        {R"({"outputs": [{"size": "1x1"}], "inputs": [], "colour": "red"})",
         {"set.json: colour: unknown field  (want out·naming·languages·theme·backdrop·caption·outputs·inputs)",
          "set.json: out is missing", "set.json: inputs is empty"}},
        {R"({"out": "s", "languages": ["en"], "outputs": [{"size": "2x2"}, {"size": "4x4", "size": "6x6"}],
            "inputs": [{"file": "shot.png", "titles": {"en": {"title": "A"}, "en": {"title": "B"}}}]})",
         {"set.json: outputs[1]: \"size\" is given twice", "set.json: inputs[0].titles: \"en\" is given twice"}},
        {R"({"out": "s", "outputs": [{"size": "iphone-6.9"}, {"size": "iphone-6.9", "theme": "light"}],
            "inputs": [{"file": "shot.png"}]})",
         {"set.json: outputs[1]: outputs[0] is named iphone-6.9 too: give one a name"}},
        {R"({"out": "s", "languages": ["en", "en", "e n", 7], "outputs": [{"size": "1x1"}],
            "inputs": [{"file": "shot.png", "titles": {"en": {"title": ""}, "fr": {"title": "Planifier"}}}]})",
         {"set.json: languages[1]: en is listed twice",
          "set.json: languages[2]: want a language code such as en or pt-BR, got \"e n\"",
          "set.json: languages[3]: want a language code such as en or pt-BR, got 7",
          "set.json: inputs[0].titles.en: title is empty",
          "set.json: inputs[0].titles.fr: fr is not one of languages"}},
        {R"({"out": "s", "languages": ["en", "de"], "outputs": [{"size": "1x1"}],
            "inputs": [{"file": "shot.png", "titles": {"en": {"title": "A", "subtitle": 3, "sub": "b"}}}]})",
         {"set.json: inputs[0].titles.en.sub: unknown field  (want title·subtitle)",
          "set.json: inputs[0].titles.en.subtitle: want text, got 3", "set.json: inputs[0].titles: no titles for de"}},
        {R"({"out": "s", "outputs": [{"size": "1x1"}], "inputs": [{"file": "shot.png", "titles": {}}]})",
         {"set.json: inputs[0].titles: titles need languages"}},
        {R"({"out": "s", "outputs": [{"size": "2x2"}],
            "inputs": [{"file": "gone.png"}, {"name": "a/b"}, {"file": "shot.png", "start": 1},
                       {"file": "rec.mov", "max": -1}, {"file": "{lang}.png"}]})",
         {"set.json: inputs[0].file: no file at " + d.dir + "/gone.png", "set.json: inputs[1]: file is missing",
          "set.json: inputs[1].name: a name here cannot hold /, | or control characters, got \"a/b\"",
          "set.json: inputs[2].start: only a recording has start", "set.json: inputs[3].max: want seconds, got -1",
          "set.json: inputs[4].file: {lang} needs languages"}},
        {R"({"out": "s", "inputs": [{"file": "shot.png"}], "outputs": [{}, {"shape": "round"},
            {"shape": "square", "size": "1x1", "layout": "full"}, {"size": "12", "layout": "spin"},
            {"size": "ipad-14"}, {"size": "4x4", "spin": "yes"}, {"size": "3x3", "spin": true}]})",
         {"set.json: outputs[0]: shape or size is missing",
          "set.json: outputs[1].shape: want vertical·horizontal·horizontal_closeup·square·square_closeup, got round",
          "set.json: outputs[2].size: give a shape or a size, not both",
          "set.json: outputs[2].layout: a shape sets its own layout",
          "set.json: outputs[3].size: want WxH or a name that pellmar sizes lists, got 12",
          "set.json: outputs[3].layout: want full·closeup, got spin",
          "set.json: outputs[4].size: want WxH or a name that pellmar sizes lists, got ipad-14",
          "set.json: outputs[5].spin: want true or false, got \"yes\"",
          "set.json: outputs[6].size: video wants even sides, got 3x3"}},
        // Only recordings (and turning clips) need even sides.
        {R"({"out": "s", "outputs": [{"size": "3x3", "name": "odd"}, {"size": "2x2", "name": "even"}],
            "inputs": [{"file": "shot.png"}, {"file": "rec.mov", "outputs": ["even"]}]})",
         {}},
        {R"({"out": "s", "outputs": [{"size": "3x3", "name": "odd"}, {"size": "2x2", "name": "even"}],
            "inputs": [{"file": "rec.mov", "outputs": ["odd", 5, "nope"]}, {"file": "shot.png", "outputs": "odd"}]})",
         {"set.json: inputs[0].outputs[1]: no output is named 5",
          "set.json: inputs[0].outputs[2]: no output is named \"nope\"",
          "set.json: inputs[1].outputs: want a list of output names, got \"odd\"",
          "set.json: outputs[0].size: video wants even sides, got 3x3"}},
        {R"({"out": "s", "theme": "grey", "caption": "middle", "backdrop": "#12345",
            "outputs": [{"size": "1x1", "backdrop": "nowhere.png"}, {"size": "2x2", "backdrop": "#123456,#abcdeg"}],
            "inputs": [{"file": "shot.png"}]})",
         {"set.json: theme: want dark·light, got grey", "set.json: caption: want top·bottom, got middle",
          "set.json: backdrop: want #RRGGBB, #RRGGBB,#RRGGBB or a picture, got #12345",
          "set.json: outputs[0].backdrop: no file at " + d.dir + "/nowhere.png",
          "set.json: outputs[1].backdrop: want #RRGGBB, #RRGGBB,#RRGGBB or a picture, got #123456,#abcdeg"}},
        {R"({"out": "s", "naming": "{lang}/{shot}_{output", "outputs": [{"size": "1x1"}], "inputs": [{"file": "shot.png"}]})",
         {"set.json: naming: {lang} needs languages",
          "set.json: naming: unknown placeholder {shot}  (want "
          "{input}·{lang}·{output})",
          "set.json: naming: a { without its }, in {lang}/{shot}_{output"}},
        {R"({"out": "s", "naming": "../{input}", "outputs": [{"size": "1x1"}], "inputs": [{"file": "shot.png"}]})",
         {"set.json: naming: want a file path inside out, got ../{input}"}},
    };
    for (const auto& [json, want] : cases) EXPECT_EQ(d.faults(json), want) << json;
}

TEST(SetFile, OutputsThatWouldCollideAreRefused) {
    const SetDir d;
    auto check = [&](const std::string& json) {
        std::vector<std::string> faults;
        const Set set = d.read(json, faults);
        EXPECT_TRUE(faults.empty());
        checkOutputs(planRenders(set), {set.path}, "set.json", set.outDir, faults);
        return faults;
    };
    // Without {output}, both sizes of the screenshot land on one name.
    EXPECT_EQ(check(R"({"out": "o", "naming": "{input}", "outputs": [{"size": "1x1"}, {"size": "2x2"}],
                        "inputs": [{"file": "shot.png"}]})"),
              std::vector<std::string>{"set.json: naming: shot.png would be written twice  (tell inputs, languages and "
                                       "outputs apart with {input}, {lang} and {output}, or give them names)"});
    // An output that lands on an input would make ninja loop.
    EXPECT_EQ(
        check(R"({"out": ".", "naming": "{input}", "outputs": [{"size": "1x1"}], "inputs": [{"file": "shot.png"}]})"),
        std::vector<std::string>{"set.json: naming: shot.png would be written over a file the set reads"});
    // A screenshot and a recording of one stem differ by extension; named outputs apart.
    EXPECT_EQ(check(R"({"out": "o", "outputs": [{"size": "2x2", "name": "a"}, {"size": "2x2", "name": "b"}],
                        "inputs": [{"file": "shot.png"}, {"file": "rec.mov", "name": "shot"}]})"),
              std::vector<std::string>{});
}

TEST(Planning, ScreenshotsGetOneRunPerOutputInEveryLanguage) {
    const SetDir d;
    const auto renders = d.renders(R"({"out": "o", "languages": ["en", "de"], "backdrop": "#1b3a6b,#0d1b33",
        "caption": "bottom",
        "outputs": [{"shape": "square_closeup"}, {"size": "iphone-6.5-landscape", "spin": true, "backdrop": "wall.jpg"}],
        "inputs": [{"file": "{lang}.png", "name": "home",
                    "titles": {"en": {"title": "Plan", "subtitle": "now"}, "de": {"title": "Planen"}}}]})");
    ASSERT_EQ(renders.size(), 4u);
    const std::string o = d.dir + "/o/";
    using V = std::vector<std::string>;
    // Stills of a shape are drawn at twice its video size, as the window does.
    EXPECT_EQ(renders[0].args, (V{"still", d.dir + "/en.png", o + "en/home_square_closeup.png", "--size", "2160x2160",
                                  "--theme", "dark", "--layout", "closeup", "--backdrop", "#1b3a6b,#0d1b33", "--title",
                                  "Plan", "--subtitle", "now", "--caption", "bottom"}));
    EXPECT_EQ(renders[0].inputs, V{d.dir + "/en.png"});
    EXPECT_EQ(renders[1].args, (V{"spin", d.dir + "/en.png", o + "en/home_iphone-6.5-landscape_spin.mp4", "--size",
                                  "2778x1284", "--theme", "dark", "--layout", "full", "--backdrop", d.dir + "/wall.jpg",
                                  "--title", "Plan", "--subtitle", "now", "--caption", "bottom"}));
    // A backdrop picture is an input of the run: changing it renders again.
    EXPECT_EQ(renders[1].inputs, (V{d.dir + "/en.png", d.dir + "/wall.jpg"}));
    EXPECT_EQ(renders[2].args,
              (V{"still", d.dir + "/de.png", o + "de/home_square_closeup.png", "--size", "2160x2160", "--theme", "dark",
                 "--layout", "closeup", "--backdrop", "#1b3a6b,#0d1b33", "--title", "Planen", "--caption", "bottom"}));
    EXPECT_EQ(renders[2].what, "still de/home_square_closeup.png");
}

TEST(Planning, ARecordingIsReadOncePerLookOfItsOutputs) {
    const SetDir d;
    const auto renders = d.renders(R"({"out": "o", "naming": "{input}-{output}",
        "outputs": [{"shape": "vertical"}, {"shape": "square", "theme": "light"},
                    {"shape": "horizontal_closeup", "spin": true}, {"size": "iphone-5.5"}],
        "inputs": [{"file": "rec.mov", "start": 1.5, "max": 30}, {"file": "shot.png", "outputs": ["iphone-5.5"]}]})");
    ASSERT_EQ(renders.size(), 3u);
    const std::string o = d.dir + "/o/";
    using V = std::vector<std::string>;
    EXPECT_EQ(renders[0].args, (V{"frame",     d.dir + "/rec.mov",
                                  "--theme",   "dark",
                                  "--start",   "1.5",
                                  "--max",     "30",
                                  "--out",     o + "rec-vertical.mp4",
                                  "1080x1920", "full",
                                  "--out",     o + "rec-horizontal_closeup_spin.mp4",
                                  "1920x1080", "closeup_spin",
                                  "--out",     o + "rec-iphone-5.5.mp4",
                                  "1242x2208", "full"}));
    EXPECT_EQ(renders[0].outputs,
              (V{o + "rec-vertical.mp4", o + "rec-horizontal_closeup_spin.mp4", o + "rec-iphone-5.5.mp4"}));
    EXPECT_EQ(renders[1].args, (V{"frame", d.dir + "/rec.mov", "--theme", "light", "--start", "1.5", "--max", "30",
                                  "--out", o + "rec-square.mp4", "1080x1080", "full"}));
    // An input can pick its outputs by name.
    EXPECT_EQ(renders[2].outputs, V{o + "shot-iphone-5.5.png"});
}

TEST(Quoting, EveryTextReachesTheCommandWhole) {
    // A stand-in engine that writes its arguments NUL-separated, run by ninja from a
    // manifest line made the way the plan makes them.
    const std::string dir = tempDir();
    const std::string engine = dir + "/fake engine's", got = dir + "/args";
    writeFile(engine, "#!/bin/sh\nprintf '%s\\0' \"$TREVALO_LOOK\" \"$@\" > '" + got + "'\n");
    chmod(engine.c_str(), 0755);
    const std::vector<std::string> texts = {"Plan your week",
                                            "in one glance — auf einen Blick ✓",
                                            "It's \"quoted\"",
                                            "$HOME $$ ${x} `id` $(id) $",
                                            "line one\nline two",
                                            "trailing\n",
                                            "\n\nlead",
                                            "cr\r\nlf\r",
                                            "tab\there",
                                            "back\\slash\\",
                                            "-dash",
                                            "",
                                            "*?[a] ~user #hash a=b",
                                            "|pipe| :colon: ;semi; &amp",
                                            "日本語 العربية हिन्दी",
                                            "'",
                                            "\"",
                                            "$lf \"$lf\" '\"$lf\"'"};
    const std::string look = dir + "/my look:$1.conf";
    writeFile(dir + "/t.ninja", "rule r\n  command = $cmd\nbuild out: r\n  cmd = " +
                                    ninjaValue(shellCommand(engine, look, texts)) + "\n");
    const Ran r = shell("cd '" + dir + "' && ninja -f t.ninja 2>&1");
    ASSERT_EQ(r.status, 0) << r.out;
    std::string want = look + '\0';
    for (const std::string& t : texts) want += t + '\0';
    EXPECT_EQ(readFile(got), want);
}
