#include "video/clips.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "flat/imageio.h"
#include "support/support.h"

std::string makeScreenshot(const std::string& dir, int w, int h, bool withIsland) {
    Image8 img(w, h);
    for (int i = 0; i < h; ++i)
        for (int x = 0; x < w; ++x) {
            const int band = i * 6 / h;
            img.top(i)[x] = {uint8_t(40 * band), uint8_t(200 - 30 * band), uint8_t((x * 255) / w), 255};
        }
    if (withIsland) {
        const int band = int(h * 0.08);
        for (int i = 0; i < band; ++i)
            for (int x = 0; x < w; ++x) img.top(i)[x] = {30, 30, 30, 255};
        // Low in the band, so that the test clip's 6 % enlargement keeps it in view.
        const int rows = band * 2 / 5, top = band * 2 / 5, lo = w / 2 - w / 6, hi = w / 2 + w / 6;
        for (int i = top; i < top + rows; ++i)
            for (int x = lo; x < hi; ++x) img.top(i)[x] = {0, 0, 0, 255};
        for (int i = top + rows / 4; i < top + 3 * rows / 4; ++i)
            for (int x = hi - rows - 2; x < hi - 2; ++x) img.top(i)[x] = {0, 0, 255, 255};
    }
    const std::string path = dir + "/shot-" + std::to_string(w) + "x" + std::to_string(h) + ".png";
    savePNG(img, path);
    return path;
}

bool ffmpeg(const std::string& args) { return shell("ffmpeg -nostdin -v error -y " + args).status == 0; }

std::map<std::string, std::string> probe(const std::string& path, const std::string& which,
                                         const std::string& entries) {
    const std::string sel = which == "format" ? "-show_entries format=" + entries
                                              : "-select_streams " + which + " -show_entries stream=" + entries;
    const Ran r = shell("ffprobe -v error " + sel + " -of default=noprint_wrappers=1 '" + path + "'");
    std::map<std::string, std::string> kv;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) kv[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return kv;
}

int audioStreams(const std::string& path) {
    const Ran r = shell("ffprobe -v error -select_streams a -show_entries stream=index -of csv=p=0 '" + path + "'");
    return int(std::count(r.out.begin(), r.out.end(), '\n'));
}

std::vector<long> packetTimes(const std::string& path) {
    const Ran r = shell("ffprobe -v error -select_streams v:0 -show_entries packet=pts -of csv=p=0 '" + path + "'");
    std::vector<long> ts;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) ts.push_back(std::stol(line));
    std::sort(ts.begin(), ts.end());
    return ts;
}

bool decodesCleanly(const std::string& path) {
    const Ran r = shell("ffmpeg -nostdin -v error -xerror -i '" + path + "' -f null - 2>&1");
    return r.status == 0 && r.out.empty() && r.err.empty();
}

std::vector<std::vector<uint8_t>> rgbFrames(const std::string& path, int w, int h) {
    const std::string raw = path + ".rgb";
    if (!ffmpeg("-i '" + path + "' -f rawvideo -pix_fmt rgb24 '" + raw + "'")) return {};
    const std::string all = readFile(raw);
    std::vector<std::vector<uint8_t>> frames;
    const size_t size = size_t(w) * size_t(h) * 3;
    for (size_t at = 0; at + size <= all.size(); at += size)
        frames.emplace_back(all.begin() + ptrdiff_t(at), all.begin() + ptrdiff_t(at + size));
    return frames;
}

double psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) sum += double(int(a[i]) - int(b[i])) * double(int(a[i]) - int(b[i]));
    if (sum == 0) return 999;
    return 10 * std::log10(255.0 * 255.0 * double(a.size()) / sum);
}
