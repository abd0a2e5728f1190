#pragma once
#include <string>
#include <vector>

using Args = std::vector<std::string>;

void cmd_frame(const Args& args);
void cmd_poster(const Args& args);
void cmd_still(const Args& args);
void cmd_spin(const Args& args);
void cmd_audio(const Args& args);
void cmd_genTest(const Args& args);
void cmd_plan(const Args& args);
void cmd_sizes(const Args& args);

// The usage line of each command: what its handler dies with on a wrong argument list,
// and the first line of `pellmar help COMMAND`.
inline constexpr char usagePellmar[] = "usage: pellmar <still|frame|poster|spin|audio|gen-test|plan|sizes> ...";
inline constexpr char usageFrame[] =
    "usage: frame <recording> <out.mp4> | frame <recording> --out <path> <WxH> <layout> [--out ...]  "
    "[--theme ..] [--size WxH] [--layout ..] [--start SEC] [--max SEC]";
inline constexpr char usagePoster[] =
    "usage: poster <recording> <out.png> [--theme ..] [--size WxH] [--layout ..] [--start SEC]";
inline constexpr char usageStill[] = "usage: still <screenshot> <out.png> [--theme ..] [--size WxH] [--layout ..]";
inline constexpr char usageSpin[] =
    "usage: spin <screenshot|recording> <out.mp4> [--size WxH] [--theme ..] [--layout full|closeup] [--at DEG]";
inline constexpr char usageAudio[] = "usage: audio <video.mp4> <sound file>";
inline constexpr char usageGenTest[] = "usage: gen-test <screenshot.png> <out.mov> [--seconds N] [--fps N] [--vfr]";
inline constexpr char usagePlan[] = "usage: plan <set.json> [out.ninja]";
inline constexpr char usageSizes[] = "usage: sizes";
