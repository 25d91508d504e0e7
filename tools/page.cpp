#include "page.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "operations.hpp"

namespace kxtools {

namespace {

constexpr uint32_t kInk = 28;
constexpr uint32_t kPaper = 232;
constexpr uint32_t kTable = 40;

struct Painter {
    ImagePtr &image;
    std::ostream &log;
    std::vector<std::string> missing;

    // Runs a drawing operation; false (noted once per operation) when the
    // library lacks it.
    bool draw(const char *name, const std::vector<std::string> &args)
    {
        const StepResult r = applyOperation(image, name, args);
        if (!r.ok) {
            bool seen = false;
            for (const auto &m : missing) seen = seen || m == name;
            if (!seen) {
                missing.push_back(name);
                log << "page: " << r.message << "; drawn without it\n";
            }
        }
        return r.ok;
    }

    // The colour value of grey level v for the image's current type (the
    // text renderer turns the page into a colour image).
    std::string grey(uint32_t v) const
    {
        return std::to_string(image->imageType == KIT_GRAY ? v : 0xFF000000u | v << 16 | v << 8 | v);
    }

    // A filled rectangle with the library's pixel-set, the fallback of every
    // shape.
    void block(int x0, int y0, int x1, int y1, uint32_t value)
    {
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                kxSetPixel(image.get(), x, y, uint32_t(std::stoul(grey(value))));
    }

    void rect(int x0, int y0, int x1, int y1, uint32_t value)
    {
        if (!draw("fillrect", {std::to_string(x0), std::to_string(y0), std::to_string(x1), std::to_string(y1),
                               grey(value)}))
            block(x0, y0, x1, y1, value);
    }

    // A line of text; without a text renderer, word-sized blocks.
    void text(const std::string &s, int x, int y, int height, uint32_t value)
    {
        if (draw("filltext", {s, std::to_string(x), std::to_string(y), std::to_string(height), grey(value)}))
            return;
        const int charWidth = height / 2;
        int cx = x;
        for (size_t k = 0; k < s.size();) {
            size_t end = s.find(' ', k);
            if (end == std::string::npos) end = s.size();
            const int w = int(end - k) * charWidth;
            block(cx, y + height / 4, cx + w - 1, y + height - 1, value);
            cx += w + charWidth;
            k = end + 1;
        }
    }
};

}  // namespace

ImagePtr drawPage(int width, int height, std::ostream &log, double noiseLevel)
{
    ImagePtr image(kxCreateImage(KIT_GRAY, width, height));
    if (!image) return nullptr;
    Painter p{image, log, {}};
    kxiFlood(image.get(), int(kPaper));

    // Everything is laid out relative to a 800 x 600 design.
    const double sx = width / 800.0, sy = height / 600.0;
    auto X = [&](double v) { return int(std::lround(v * sx)); };
    auto Y = [&](double v) { return int(std::lround(v * sy)); };

    // The table under the page shows along the left and top edges.
    p.rect(0, 0, width - 1, Y(14), kTable);
    p.rect(0, 0, X(18), height - 1, kTable);

    // Corner marks of the printed frame (open, so no region is enclosed).
    const int m0 = X(44), m1 = width - X(30), n0 = Y(40), n1 = height - Y(28), arm = X(36), t = std::max(2, X(4));
    for (const auto &[cx, cy, dx, dy] : std::vector<std::array<int, 4>>{
             {m0, n0, 1, 1}, {m1, n0, -1, 1}, {m0, n1, 1, -1}, {m1, n1, -1, -1}}) {
        p.rect(std::min(cx, cx + dx * arm), std::min(cy, cy + dy * t), std::max(cx, cx + dx * arm),
               std::max(cy, cy + dy * t), kInk);
        p.rect(std::min(cx, cx + dx * t), std::min(cy, cy + dy * arm), std::max(cx, cx + dx * t),
               std::max(cy, cy + dy * arm), kInk);
    }

    // Title, rule and body text.
    p.text("Image preprocessing report", X(70), Y(54), Y(40), kInk);
    p.rect(X(70), Y(104), X(730), Y(107), kInk);
    const char *body[] = {
        "Thresholds chosen from the histogram turn grey pages into binary",
        "images; a local window copes with shadows and uneven light.",
        "Holes are filled, regions touching the border are removed and the",
        "strokes are thinned to lines one pixel wide, ready to be traced.",
        "Each call works in place and returns the same image.",
        "Quality: 0.98    Pages: 12    Operator: 7",
    };
    int y = Y(128);
    for (const char *line : body) {
        p.text(line, X(70), y, Y(22), kInk);
        y += Y(38);
    }

    // A stamp: a rotated double ellipse with a word inside.
    const int scx = X(590), scy = Y(470), srx = X(110), sry = Y(52);
    bool ring = true;
    for (int k : {0, 1, 2, 3, 10, 11})
        for (const char *angle : {"-12", "-11.6", "-12.4"})
            if (ring)
                ring = p.draw("setellipse", {std::to_string(scx), std::to_string(scy), std::to_string(srx - k),
                                             std::to_string(sry - k), angle, p.grey(kInk + 40)});
    if (!ring) p.block(scx - srx, scy - 3, scx + srx, scy + 3, kInk + 40);
    p.text("CHECKED", scx - X(66), scy - Y(16), Y(32), kInk + 40);

    // A signature: a wavy polyline.
    for (int d = 0; d < 3; ++d) {
        std::string shifted;
        for (int k = 0; k <= 40; ++k) {
            const double u = k / 40.0;
            if (k) shifted += ',';
            shifted += std::to_string(X(90 + 260 * u));
            shifted += ',';
            shifted += std::to_string(Y(490 + 22 * std::sin(u * 14.0) * (1.0 - 0.6 * u)) + d);
        }
        if (!p.draw("setpolyline", {shifted, p.grey(kInk)})) {
            p.block(X(90), Y(488), X(350), Y(492), kInk);
            break;
        }
    }

    // Back to grey (exact: the three weights of the luminance add up to 1).
    if (image->imageType != KIT_GRAY && !kxiCast(image.get(), KIT_GRAY)) return nullptr;

    // Light falls from the top right and fades towards the bottom left; the
    // camera adds noise.
    std::mt19937 rng(20261206);
    std::normal_distribution<double> noise(0.0, std::max(0.0, noiseLevel));
    for (int r = 0; r < height; ++r) {
        uint8_t *row = image->data + size_t(r) * size_t(image->pitch);
        for (int c = 0; c < width; ++c) {
            const double u = double(c) / width, v = double(r) / height;
            const double light = 0.42 + 0.58 * std::exp(-((1.0 - u) * (1.0 - u) + v * v) * 0.9);
            const double value = row[c] * light + noise(rng);
            row[c] = uint8_t(std::clamp(value, 0.0, 255.0));
        }
    }
    return image;
}

}  // namespace kxtools
