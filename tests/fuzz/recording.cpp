// Recording opening: any bytes as the recording of frame, poster and spin, opened and
// read for a few frames from the start and again after a seek.
#include "fuzz.h"
#include "video/source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = inputFile(data, size, "recording");
    Source src;
    const bool ok = accepted([&] { src = openVideo(path); });
    expectQuietStdout();
    if (!ok) return 0;
    FUZZ_CHECK(src.W >= 1 && src.H >= 1 && src.fps >= 1 && src.fps <= 60);
    FUZZ_CHECK(src.orient == 1 || src.orient == 3 || src.orient == 6 || src.orient == 8);
    // Pictures beyond 4K decode like any other; the bound keeps one input from taking
    // the fuzzer's memory and time.
    const AVCodecParameters* par = src.st()->codecpar;
    if (int64_t(par->width) * par->height > 3840 * 2160) return 0;

    for (double start : {0.0, 0.5}) {
        accepted([&] {
            FrameReader reader(src, start);
            Image8 picture;
            for (int i = 0; i < 3 && reader.next(); ++i) {
                reader.picture(picture);
                FUZZ_CHECK(picture.w >= 1 && picture.h >= 1);
                FUZZ_CHECK(picture.px.size() == size_t(picture.w) * size_t(picture.h));
            }
        });
    }
    expectQuietStdout();
    return 0;
}
