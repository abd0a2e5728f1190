// Picture loading: any bytes as the screenshot of still, spin and gen-test.
#include "flat/imageio.h"
#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = inputFile(data, size, "picture");
    Image8 img;
    const bool ok = accepted([&] { img = loadCG(path); });
    expectQuietStdout();
    if (!ok) return 0;
    // Upright, within the size limit, premultiplied.
    FUZZ_CHECK(img.w >= 1 && img.h >= 1 && img.w <= maxInputSide && img.h <= maxInputSide);
    FUZZ_CHECK(img.px.size() == size_t(img.w) * size_t(img.h) && int64_t(img.px.size()) <= maxInputPixels);
    for (const Px8& p : img.px) FUZZ_CHECK(p.r <= p.a && p.g <= p.a && p.b <= p.a);
    return 0;
}
