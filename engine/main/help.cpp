#include "main/help.h"

#include <cstdio>

#include "base/commands.h"
#include "base/die.h"

namespace {

struct CommandHelp {
    const char* word;
    const char* usage;
    const char* summary;
    const char* text;
};

// The options that still, frame, poster and spin share, as each command uses them.
constexpr char themeSizeLayout[] =
    "  --theme dark|light      backdrop and device colours (default dark)\n"
    "  --size WxH|NAME         output size in pixels, or a name from `pellmar sizes`\n"
    "                          (default 1080x1920)\n"
    "  --title TEXT            a headline on the backdrop; a line feed breaks the line\n"
    "  --subtitle TEXT         a smaller line under the title\n"
    "  --caption top|bottom    the text above the device or below it (default top)\n"
    "  --backdrop VALUE        #RRGGBB, #RRGGBB,#RRGGBB (top to bottom) or a picture\n";

const CommandHelp commands[] = {
    {"still", usageStill, "frame a screenshot into a PNG",
     "Sets the screenshot (PNG, JPEG, HEIC, WebP, TIFF) into the device on its backdrop and\n"
     "writes a PNG.\n\n"
     "  --layout full|closeup   the whole device, or its upper part filling the frame\n"},
    {"frame", usageFrame, "frame a recording into MP4 videos in one pass",
     "Reads the recording once and writes one H.264 video per output at a constant frame\n"
     "rate. The layouts spin and closeup_spin turn the device once (Vulkan GPU).\n\n"
     "  --out PATH WxH LAYOUT   one more output; repeat for more\n"
     "  --layout LAYOUT         full, closeup, spin or closeup_spin (default full)\n"
     "  --start SEC             where reading starts (default 0)\n"
     "  --max SEC               the longest stretch used (default 60)\n"
     "  --progress              write \"progress DONE TOTAL\" lines (frames) to standard output\n"},
    {"poster", usagePoster, "frame one moment of a recording into a PNG",
     "Frames the recording's picture at --start seconds as a video frame would show it.\n\n"
     "  --layout full|closeup   the whole device, or its upper part filling the frame\n"
     "  --start SEC             the moment (default 0)\n"},
    {"spin", usageSpin, "a clip in which the device turns once (Vulkan GPU)",
     "Writes a 60 fps clip of a screenshot in which the device rests, turns once and comes\n"
     "to rest; a recording goes to frame with a turning layout.\n\n"
     "  --layout full|closeup   where the turn ends, or the close-up it leaves\n"
     "  --at DEG                instead of a clip, a PNG of the device turned by DEG degrees\n"
     "  --progress              write \"progress DONE TOTAL\" lines (frames) to standard output\n"},
    {"audio", usageAudio, "lay a sound under a finished video, in place",
     "Mixes the sound to stereo AAC at 48 kHz, cut at the video's length; the picture is\n"
     "copied. The video is replaced only when the new file is complete.\n"},
    {"gen-test", usageGenTest, "make a synthetic test recording from a screenshot",
     "Moves the screenshot on a near-black background, for trying the video commands.\n\n"
     "  --seconds N             length (default 6)\n"
     "  --fps N                 frame rate, 1 to 240 (default 30)\n"
     "  --vfr                   leave gaps in the second half, like a screen recording\n"},
    {"plan", usagePlan, "turn a set file into a ninja build file of renders",
     "Reads a set file (inputs, outputs, languages, titles) and writes a ninja build file with\n"
     "one pellmar run per edge, to the named file or to standard output. `ninja -f` on it\n"
     "renders the set and, run again, only what changed. A faulty set writes nothing and\n"
     "names every fault, one line each.\n"},
    {"sizes", usageSizes, "list the store sizes that --size takes by name",
     "Each name also comes as NAME-landscape, with the sides swapped.\n"},
};

bool usesCommonOptions(const std::string& word) {
    return word == "still" || word == "frame" || word == "poster" || word == "spin";
}

void overview() {
    std::printf("%s\n       pellmar help [COMMAND]\n       pellmar --help | --version\n\n", usagePellmar);
    std::printf("Frames phone screenshots and screen recordings in a drawn device on a lit backdrop.\n\n");
    for (const CommandHelp& c : commands) std::printf("  %-9s %s\n", c.word, c.summary);
    std::printf(
        "\nOptions of still, frame, poster and spin:\n%s"
        "  --layout full|closeup   (frame also spin, closeup_spin)\n"
        "  --start SEC, --max SEC  the part of a recording used\n"
        "  --out PATH WxH LAYOUT   frame: one more output\n"
        "  --progress              frame and spin: progress lines on standard output\n\n"
        "Environment:\n"
        "  TREVALO_LOOK   the look file (default: look.conf beside the program as started,\n"
        "                 then beside it or in ../share/trevalo/ where it really lies)\n"
        "  PELLMAR_GPU    discrete, integrated, virtual, cpu, a device number, or part of a name\n\n"
        "Each written file gets one line \"saved PATH  (...)\" on standard output. A failure ends\n"
        "with one line on standard error and exit status 1.\n",
        themeSizeLayout);
}

}  // namespace

void printHelp(const std::string& command) {
    if (command.empty() || command == "help" || command == "--help") {
        overview();
    } else {
        const CommandHelp* found = nullptr;
        for (const CommandHelp& c : commands)
            if (command == c.word) found = &c;
        if (!found) die("unknown subcommand: " + command);
        std::printf("%s\n\n%s", found->usage, found->text);
        if (usesCommonOptions(command)) std::printf("%s", themeSizeLayout);
    }
}
