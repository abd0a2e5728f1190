#pragma once
// Test recordings and an independent reader for the video tests.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// A w x h screenshot PNG: coloured bands, and with withIsland a dark status bar with a
// black pill and a red recording dot (found from 200 x 400 on).
std::string makeScreenshot(const std::string& dir, int w, int h, bool withIsland = false);

// Runs ffmpeg (quiet) with the arguments; true on success.
bool ffmpeg(const std::string& args);

// ffprobe's key=value lines for one stream ("v:0", "a:0") or the container ("format")
// and the given entries, e.g. probe(p, "v:0", "codec_name,nb_frames").
std::map<std::string, std::string> probe(const std::string& path, const std::string& which, const std::string& entries);
int audioStreams(const std::string& path);
// Presentation times of the video packets, in the stream's time base, in order.
std::vector<long> packetTimes(const std::string& path);
// Every frame of a w x h video as packed RGB, decoded by ffmpeg.
std::vector<std::vector<uint8_t>> rgbFrames(const std::string& path, int w, int h);
// Peak signal-to-noise ratio of two equal-sized 8-bit pictures, in dB (999 when equal).
double psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);
// Whether ffmpeg decodes every stream of the file without a single error.
bool decodesCleanly(const std::string& path);
