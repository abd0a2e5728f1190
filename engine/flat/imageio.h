#pragma once
#include <memory>
#include <string>

#include "flat/png.h"
#include "flat/surface.h"

struct Scene;

// The first image of a file, turned upright by its orientation, as premultiplied BGRA.
// Ends with "cannot read image: " + path when it cannot be decoded.
Image8 loadCG(const std::string& path);

// The same in two steps: the file opened and checked as far as its upright size, then
// its pixels decoded (which may take a while, and may still fail on damaged data).
class ImageFile {
public:
    explicit ImageFile(const std::string& path);
    ~ImageFile();
    int w() const { return m_w; }
    int h() const { return m_h; }
    Image8 decode() const;

private:
    struct Pipeline;
    std::string m_path;
    std::unique_ptr<Pipeline> m_p;
    int m_w = 0, m_h = 0;
};

// Pango markup set in lines no wider than `width` pixels, each centred, at 72 dpi so that
// a point is a pixel: the coverage of its logical extent (line spacing included), or an
// empty plane when the markup does not read (bad markup or text that is not UTF-8).
Plane setText(const std::string& markup, int width);

// Applies a TIFF/EXIF orientation (1 to 8): the result is the upright picture.
Image8 orient(const Image8& img, int orientation);

// Writes a PNG that replaces whatever is at path only once complete; ends with
// "cannot write " + path.
void savePNG(const Image8& img, const std::string& path);
// The same for a picture drawn band by band while it is encoded (see encodePNG).
void savePNG(int w, int h, PngAlpha alpha, const DrawBand& draw, const std::string& path);

// Draws the scene with the content, writes it to the absolute path and prints the
// "saved" line with that path; ends with "cannot write " + absolute path.
void writePNG(const Scene& scene, const Image8& content, const std::string& path);
