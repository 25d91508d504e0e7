// kxdemo: the library's typical request, stage by stage.
//
//   kxdemo [IMAGE] [--out DIR]
//
// Without IMAGE it draws a photographed document page (page.cpp).  The page
// is normalized, binarized with a local window, inverted so that the ink is
// the foreground, cleaned (holes filled, regions touching the border
// removed), thinned, and the end points of the thinned strokes are marked on
// the input.  Then the same page goes through the one call of the companion
// library, kxpipe's `cleanpage 0 1` (kxxCleanPage: resolution estimated, the
// page turned straight when its skew is sure), on a row of its own beside
// the typical request.  Each stage is written as DIR/NN-stage.png (DIR
// defaults to "out"), with all stages side by side in DIR/contact-sheet.png.
// Progress and timings go to stderr.  A stage whose operation this library
// build lacks is skipped with a note.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <string>
#include <vector>

#include "operations.hpp"
#include "page.hpp"

using namespace kxtools;

namespace {

struct Stage {
    std::string name;      // file name part
    ImagePtr image;        // a copy of the image after the stage
    bool newRow = false;   // starts a row of the contact sheet
};

ImagePtr copyOf(const Image *im) { return ImagePtr(kxiClone(im, nullptr)); }

// Positions of the set pixels of a binary image with exactly one set
// 8-neighbour, and of all set pixels, as x,y pairs.
void strokePoints(const Image *im, std::vector<int> &all, std::vector<int> &ends)
{
    auto at = [&](int x, int y) {
        return x >= 0 && y >= 0 && x < im->width && y < im->height &&
               im->data[size_t(y) * size_t(im->pitch) + size_t(x)] != 0;
    };
    for (int y = 0; y < im->height; ++y)
        for (int x = 0; x < im->width; ++x) {
            if (!at(x, y)) continue;
            all.insert(all.end(), {x, y});
            int n = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) n += (dx || dy) && at(x + dx, y + dy);
            if (n == 1) ends.insert(ends.end(), {x, y});
        }
}

// Every stage as a colour panel of at most `panelW` pixels wide, in a grid
// of four columns with the stage name under each panel; a stage marked
// newRow starts the next row.
ImagePtr contactSheet(const std::vector<Stage> &stages, int panelW)
{
    const int columns = 4, gap = 8, label = 26;
    const Image *first = stages.front().image.get();
    const int panelH = std::max(1, int(int64_t(first->height) * panelW / std::max(1, first->width)));
    std::vector<int> cell(stages.size());  // grid position, row * columns + column
    for (size_t k = 0, at = 0; k < stages.size(); ++k, ++at) {
        if (stages[k].newRow && at % columns) at += columns - at % columns;
        cell[k] = int(at);
    }
    const int rows = stages.empty() ? 0 : cell.back() / columns + 1;
    ImagePtr sheet(kxCreateImage(KIT_RGB, columns * (panelW + gap) + gap, rows * (panelH + gap + label) + gap));
    if (!sheet) return nullptr;
    kxiFlood(sheet.get(), 255);
    for (size_t k = 0; k < stages.size(); ++k) {
        ImagePtr panel = copyOf(stages[k].image.get());
        if (!panel || !kxiCast(panel.get(), KIT_RGB)) continue;
        // Shrink with the library's box filter when present, else by
        // sampling.
        ImagePtr small(kxCreateImage(KIT_RGB, panelW, panelH));
        if (!small) continue;
        ImagePtr scaled = copyOf(panel.get());
        if (applyOperation(scaled, "scaleex", {std::to_string(panelW), std::to_string(panelH), "3"}).ok) {
            small = std::move(scaled);
        } else {
            for (int y = 0; y < panelH; ++y)
                for (int x = 0; x < panelW; ++x) {
                    const int sx = int(int64_t(x) * panel->width / panelW), sy = int(int64_t(y) * panel->height / panelH);
                    kxSetPixel(small.get(), x, y, kxGetPixel(panel.get(), sx, sy));
                }
        }
        const int col = cell[k] % columns, row = cell[k] / columns;
        const int px = gap + col * (panelW + gap), py = gap + row * (panelH + gap + label);
        kxCopyPixels(small.get(), 0, 0, -1, -1, sheet.get(), px, py, -1, -1);
        applyOperation(sheet, "filltext",
                       {stages[k].name, std::to_string(px), std::to_string(py + panelH + 3), "16", "0x202020"});
    }
    return sheet;
}

// What a step said it did: its note where this build's steps carry one,
// else the value it reported.
template <class Result>
std::string stepNote(const Result &r)
{
    if constexpr (requires { r.note; })
        return r.note.empty() ? r.message : r.note;
    else
        return r.message;
}

}  // namespace

int main(int argc, char **argv)
{
    std::string input, outDir = "out";
    for (int k = 1; k < argc; ++k) {
        const std::string a = argv[k];
        if ((a == "--out" || a == "-o") && k + 1 < argc) {
            outDir = argv[++k];
        } else if (a == "--help" || a == "-h") {
            std::cout << "usage: kxdemo [IMAGE] [--out DIR]\n"
                         "Runs normalize, local binarization, hole filling, border removal, thinning and\n"
                         "end-point marking on IMAGE (default: a drawn document page), then the one call\n"
                         "cleanpage 0 1 on the same page, and writes every stage and a contact sheet as\n"
                         "PNG files into DIR (default: out).\n";
            return 0;
        } else if (!a.empty() && a[0] == '-') {
            std::cerr << "kxdemo: unknown option " << a << "\n";
            return 2;
        } else {
            input = a;
        }
    }
    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);
    if (ec) {
        std::cerr << "kxdemo: cannot create " << outDir << ": " << ec.message() << "\n";
        return 1;
    }

    using Clock = std::chrono::steady_clock;
    auto t0 = Clock::now();
    auto lap = [&]() {
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        t0 = Clock::now();
        return ms;
    };
    auto report = [](const std::string &name, double ms, const std::string &note = {}) {
        std::cerr << "kxdemo: " << std::left << std::setw(14) << name << std::right << std::fixed
                  << std::setprecision(2) << std::setw(9) << ms << " ms" << (note.empty() ? "" : "  " + note)
                  << "\n";
    };

    ImagePtr image;
    std::string error;
    if (input.empty()) {
        image = drawPage(800, 600, std::cerr);
        report("draw page", lap(), "800x600 grey");
    } else {
        image = readImage(input, error);
        if (!image) {
            std::cerr << "kxdemo: " << error << "\n";
            return 1;
        }
        if (image->imageType != KIT_GRAY && !kxiCast(image.get(), KIT_GRAY)) {
            std::cerr << "kxdemo: " << input << ": cannot convert to grey\n";
            return 1;
        }
        report("read", lap(), input);
    }
    if (!image) {
        std::cerr << "kxdemo: cannot create the page\n";
        return 1;
    }

    std::vector<Stage> stages;
    stages.push_back({"input", copyOf(image.get())});
    ImagePtr original = copyOf(image.get());

    struct Request {
        const char *stage, *op;
        std::vector<std::string> args;
        bool needsBinary;
        const char *note;
    };
    const std::vector<Request> request = {
        {"normalize", "normalize", {"128", "1200"}, false, "mean 128, variance 1200"},
        {"binarize", "localintegral", {"31", "128", "0.34"}, false, "31x31 window, range 128, k 0.34"},
        {"ink", "invert", {}, true, "ink becomes the foreground"},
        {"fill-holes", "fillhole", {}, true, ""},
        {"remove-border", "removeborder", {}, true, "the table along the edges goes"},
        {"thin", "thinning", {}, true, ""},
    };
    for (const auto &r : request) {
        if (r.needsBinary && image->imageType != KIT_BIN) {
            report(r.stage, 0, "skipped: needs the binary image of an earlier stage");
            continue;
        }
        lap();
        const StepResult res = applyOperation(image, r.op, r.args);
        const double ms = lap();
        if (!res.ok) {
            report(r.stage, ms, "skipped: " + res.message);
            continue;
        }
        report(r.stage, ms, r.note);
        stages.push_back({r.stage, copyOf(image.get())});
    }

    // Mark the strokes in blue and their end points in red on the input.
    lap();
    if (image->imageType == KIT_BIN && kxiCast(original.get(), KIT_RGB)) {
        std::vector<int> all, ends;
        strokePoints(image.get(), all, ends);
        kxSetPixelE1(original.get(), all.data(), int(all.size() / 2), 0, 0, 0xFF1050E0u);
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                kxSetPixelE1(original.get(), ends.data(), int(ends.size() / 2), dx, dy, 0xFFE01010u);
        report("mark", lap(), std::to_string(ends.size() / 2) + " end points of " +
                                  std::to_string(all.size() / 2) + " stroke pixels");
        stages.push_back({"end-points", std::move(original)});
    } else {
        report("mark", 0, "skipped: no thinned binary image");
    }

    // The one call on the same page: grey in, a clean binary page with the
    // ink set out, turned straight when its skew is sure; the step says on
    // stderr what it did (angle, confidence, resolution, specks removed).
    {
        ImagePtr page = copyOf(stages.front().image.get());
        lap();
        const StepResult res = page ? applyOperation(page, "cleanpage", {"0", "1"}) : StepResult{false, "no memory"};
        const double ms = lap();
        if (!res.ok) {
            report("cleanpage", ms, "skipped: " + res.message);
        } else {
            const std::string note = stepNote(res);
            report("cleanpage", ms, "the one call: cleanpage 0 1" + (note.empty() ? "" : " -> " + note));
            stages.push_back({"input", copyOf(stages.front().image.get()), true});
            stages.push_back({"cleanpage-one-call", std::move(page)});
        }
    }

    int written = 0;
    for (size_t k = 0; k < stages.size(); ++k) {
        char prefix[24];
        std::snprintf(prefix, sizeof prefix, "%02zu-", k);
        const std::string path = outDir + "/" + prefix + stages[k].name + ".png";
        if (!writeImageAtomic(stages[k].image.get(), path, error)) {
            std::cerr << "kxdemo: " << error << "\n";
            return 1;
        }
        ++written;
    }
    lap();
    ImagePtr sheet = contactSheet(stages, 320);
    const std::string sheetPath = outDir + "/contact-sheet.png";
    if (!sheet || !writeImageAtomic(sheet.get(), sheetPath, error)) {
        std::cerr << "kxdemo: contact sheet: " << (sheet ? error : "cannot create the image") << "\n";
        return 1;
    }
    report("contact sheet", lap());
    std::cerr << "kxdemo: wrote " << written << " stages and " << sheetPath << "\n";
    return 0;
}
