#pragma once
#include <string>

#include "flat/surface.h"

struct Scene;

// The first image of a file, turned upright by its orientation, as premultiplied BGRA.
// Ends with "cannot read image: " + path when it cannot be decoded.
Image8 loadCG(const std::string& path);

// Applies a TIFF/EXIF orientation (1 to 8): the result is the upright picture.
Image8 orient(const Image8& img, int orientation);

// The path resolved against the working directory.
std::string absolutePath(const std::string& path);

// Writes a PNG beside the target and moves it over the target only when complete;
// ends with "cannot write " + absolute path.
void savePNG(const Image8& img, const std::string& path);

// Draws the scene with the content, writes it and prints the "saved" line.
void writePNG(const Scene& scene, const Image8& content, const std::string& path);
