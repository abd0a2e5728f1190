#pragma once
#include <cstdint>
#include <vector>

#include "flat/scene.h"
#include "video/av.h"
#include "video/content.h"
#include "video/scale.h"

// Draws a flat scene's frames for one video output straight into the encoder's 4:2:0
// picture: the picture of Scene::draw (plate, screen clipped to its rounded outline,
// glass), composed where the encoder wants it. The plate is converted once; per frame
// only the screen is touched: the content is brought to the screen's whole-pixel
// rectangle by the stills' Lanczos filter with the stills' geometry, each plane on its
// own grid (chroma samples where the encoder's 2 x 2 blocks lie, wherever the rectangle
// starts), then put over the plate by the outline's coverage (and the content's alpha)
// and darkened by the glass, with weights made once. The mixing is linear, so in Y'CbCr
// it equals the mixing in R'G'B' (for chroma, with weights averaged over each block).
class ScreenPainter {
public:
    // Keeps nothing of the scene: the plate and glass are converted into its own form.
    explicit ScreenPainter(const Scene& scene);
    ScreenPainter(const ScreenPainter&) = delete;
    ScreenPainter& operator=(const ScreenPainter&) = delete;

    // Composes the frame with this content into out (the scene's size, 4:2:0).
    void draw(AVFrame* out, const AVFrame* content);
    // The next draw writes the whole frame again: out was drawn over by something else.
    void reprime() { m_primed = false; }

private:
    // One plane's part of the screen: where it lies and its weights, 0 to 256: content
    // coverage, and 256 minus glass. Nearly all of a row is clear, both weights 256,
    // where the content shows as it stands; only the weights of the rest are kept.
    struct Part {
        int x0 = 0, x1 = 0, y0 = 0, y1 = 0;  // clipped to the plane, rows from the top
        int black = 16;                      // the value the glass darkens towards
        struct Row {
            int a = 0, b = 0;  // the clear run: columns [a, b) from x0
            size_t at = 0;     // where the row's weights of columns [0, a), then [b, x1 - x0) start
        };
        std::vector<Row> rows;
        std::vector<uint16_t> cover, keep;  // of the columns beyond the clear runs, row by row
        PlaneScaler scaler;                 // the content's plane to this part

        // The weights of the part's column j in row i (from the part's top left).
        uint16_t coverAt(int i, int j) const { return weightAt(cover, i, j); }
        uint16_t keepAt(int i, int j) const { return weightAt(keep, i, j); }
        // Keeps the weights (w x h, row by row) of the columns beyond each row's clear run.
        void setWeights(const std::vector<uint16_t>& cover, const std::vector<uint16_t>& keep);

    private:
        uint16_t weightAt(const std::vector<uint16_t>& w, int i, int j) const {
            const Row& r = rows[size_t(i)];
            return j < r.a ? w[r.at + size_t(j)] : j < r.b ? 256 : w[r.at + size_t(r.a + j - r.b)];
        }
    };
    void prepare(int contentW, int contentH);
    void mix(Part& p, int plane, AVFrame* out, const AVFrame* content);
    void mixAlpha(Part& p, int plane, AVFrame* out, const AVFrame* content);

    int m_w = 0, m_h = 0;
    FramePtr m_plate;  // the plate in 4:2:0
    Part m_parts[3];
    struct {
        int x0 = 0, t0 = 0, w = 0, h = 0;  // the screen's whole pixels, rows from the top
    } m_screen;
    int m_contentW = 0, m_contentH = 0;  // what the scalers were made for
    std::vector<uint8_t> m_row;
    std::vector<uint16_t> m_alphaCover;  // per luma pixel of the part: alpha times coverage
    bool m_primed = false;               // out already holds the plate around the screen
};
