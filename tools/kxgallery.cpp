// kxgallery: before/after pictures of each operation family.
//
//   kxgallery [DIR]
//
// Draws the demo page at 400 x 300 (with less noise, so that the pictures
// stay small), prepares one input per family (the grey
// page, its binary form, a colour version) and writes, for each example
// pipeline, DIR/<family>-<n>.png, plus DIR/README.md with a table of them
// (DIR defaults to docs/gallery).  Examples whose operations the library
// build lacks are left out with a note on stderr.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "page.hpp"
#include "pipe.hpp"

using namespace kxtools;

namespace {

std::vector<std::string> words(const std::string &s)
{
    std::vector<std::string> out;
    std::istringstream in(s);
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

struct Example {
    const char *pipeline;
    const char *caption;
};

struct Family {
    const char *name, *title;
    const char *prepare;  // pipeline that makes the family's input from the page
    std::vector<Example> examples;
};

const std::vector<Family> &families()
{
    static const std::vector<Family> list = {
        {"pixel", "Pixel-wise operations", "",
         {{"invert", "invert"},
          {"clip 50 35 249 184", "clip to a rectangle"},
          {"rgb replacechannel @page 4", "red channel replaced by the page"}}},
        {"threshold", "Thresholding", "",
         {{"otsu -", "Otsu level"},
          {"localintegral 25 128 0.34", "local window (25, 128, 0.34)"},
          {"normalize 128 1200 localintegral 25 128 0.34", "normalized, then local window"},
          {"multilevel 4", "four grey classes"},
          {"isodata 100 2", "isodata level"},
          {"maxentropy", "maximum entropy level"}}},
        {"filter", "Filtering and intensity", "",
         {{"normalize 128 1200", "mean 128, variance 1200"},
          {"equalize", "equalized"},
          {"contrast 0.1 0.6", "contrast stretched"},
          {"smoothavg 5", "box mean 5"},
          {"median 5", "median 5"},
          {"sobel 0", "Sobel"},
          {"laplacian", "Laplacian"},
          {"median 5 detectedge 0 0 20 -", "median 5, then the edge map"}}},
        {"binary", "Binary images", "normalize 128 1200 localintegral 25 128 0.34 invert",
         {{"fillhole", "holes filled"},
          {"removeborder", "border regions removed"},
          {"fillhole removeborder thinning", "filled, cleaned, thinned"},
          // Thick regions show the ridges; every unset pixel is a level
          // maximum of its own, so the background turns white as well.
          {"dilatee1 3 skeleton 0", "skeleton by level maxima of thickened strokes: white ridges; the background is white too"},
          {"retrieveedge 0", "region outlines"},
          {"dilatee1 2", "dilated by radius 2"},
          {"erodee1 2", "eroded by distance 2"},
          {"erode rect:3x3", "eroded by a 3x3 element"},
          // Distances are small numbers: scaled so that the map is visible.
          {"invert disttrans linear 10 0", "distance to the nearest ink (map of the inverted page) times 10"}}},
        {"geometry", "Geometry", "",
         {{"rotateex 15 0 0", "rotated 15 degrees"},
          {"rotatee2 -10 0xFF808080 0 1", "rotated, same size, grey ground"},
          {"rotate 1", "quarter turn"},
          {"flip 1", "mirrored"},
          {"scale 0.5 2", "half size, bilinear"},
          {"resize 480 360 0xFF606060", "larger canvas"},
          {"translate 20.5 10.25 0", "shifted by (20.5, 10.25)"}}},
        {"draw", "Drawing", "rgb",
         {{"setline 15 15 385 285 0xFFFF0000 setellipse 200 150 130 65 30 0xFF0000FF", "line and rotated ellipse"},
          {"fillrect 30 30 170 120 0xFF20A020 fillellipse 180 130 370 280 0xFFE0C000", "filled rectangle and ellipse"},
          {"fillpolygon 50,270,200,50,350,270,50,125,350,125 0xFF8030C0", "polygon, even-odd rule"},
          {"fillellipsee1 200 150 220 90 -25 0xFF00A0A0", "rotated filled ellipse"},
          {"floodfill 200 150 0xFF3060FF 6 6 4 0", "flood fill from the centre"},
          {"filltext Hello,_world 30 130 40 0xFFC00000", "text"}}},
        {"vision", "Vision filters", "",
         {{"median 5 canny 50 150 1 3", "median 5, then Canny edges"},
          {"smoothgaussian 7 7", "Gaussian 7x7"},
          {"blur 7 7", "box blur 7x7"},
          {"morpopen", "opening"},
          {"pyramid 0", "one pyramid step"}}},
        // libkxextra: the binary examples start from the binary family's
        // page (ink set), the grey ones from the page.
        {"extra", "Companion library (libkxextra)", "",
         {{"normalize 128 1200 localintegral 25 128 0.34 invert components 8", "connected components, one colour each"},
          {"normalize 128 1200 localintegral 25 128 0.34 invert", "before despeckling: the binary page"},
          {"normalize 128 1200 localintegral 25 128 0.34 invert despeckle 8 6", "despeckled: components under 6 pixels cleared (specks, and the dots of punctuation)"},
          // Marks 1 line, 2 end, 3 branch, 4 dot, widened (the largest mark in a 3 x 3
          // square wins) and brightened to 60, 120, 180, 240.
          {"normalize 128 1200 localintegral 25 128 0.34 invert despeckle 8 6 thinning markstrokepoints dilate rect:3x3 linear 60 0",
           "stroke points of the thinned page, widened: lines dark grey, ends grey, branches light grey, dots white"},
          {"sauvola 25 0.34 128", "Sauvola (window 25, k 0.34, r 128)"},
          {"localintegral 25 128 0.34", "the library's local window (25, 128, 0.34), for comparison"},
          {"normalize 128 1200 localintegral 25 128 0.34 invert despeckle 8 6 rotateex 6 1 1",
           "a binary page turned by 6 degrees"},
          {"normalize 128 1200 localintegral 25 128 0.34 invert despeckle 8 6 rotateex 6 1 1 deskew 0.3 1",
           "the turned page deskewed (skew found, turned back)"},
          {"clahe 8 8 2.0", "CLAHE, 8 x 8 tiles, clip limit 2"},
          {"gradientmagnitude 0 2", "Sobel gradient magnitude (L2), scaled to its largest value"}}},
        // Pages of documents: the page made faint and turned, as a poor scan.
        {"documents", "Documents (libkxextra)", "rotatee2 -2.5 0xFFFFFFFF 0 1 linear 0.6 80",
         {{"normalize 128 1200 localintegral 25 128 0.34", "the library's local window (25, 128, 0.34), for comparison"},
          {"flattenpaper", "the paper flattened (its estimate divided out)"},
          {"binarizedocument 0", "the document binarizer (stroke edges), paper set"},
          {"cleanpage 0 0 invert", "cleaned for OCR, not turned (ink set, inverted to show it black)"},
          {"cleanpage invert", "cleaned and turned straight, in one call"},
          {"deskewpage", "the grey page turned straight"}}},
    };
    return list;
}

bool run(ImagePtr &image, const std::string &pipeline, const std::string &pagePath, std::string &error)
{
    std::vector<std::string> w = words(pipeline);
    for (auto &s : w) {
        if (s == "@page") s = pagePath;
        for (auto &c : s)
            if (c == '_') c = ' ';
    }
    std::vector<Step> steps;
    if (!parsePipeline(w, steps, error)) return false;
    for (auto &step : steps) {
        for (auto &v : step.args.values)
            if (!loadValue(v, error)) return false;
        const StepResult r = runStep(*step.op, image, step.args);
        if (!r.ok) {
            error = std::string(step.op->name) + ": " + r.message;
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    const std::string dir = argc > 1 ? argv[1] : "docs/gallery";
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        std::cerr << "kxgallery: cannot create " << dir << ": " << ec.message() << "\n";
        return 1;
    }
    ImagePtr page = drawPage(400, 300, std::cerr, 3.0);
    std::string error;
    const std::string pagePath = dir + "/page.png";
    if (!page || !writeImageAtomic(page.get(), pagePath, error)) {
        std::cerr << "kxgallery: " << error << "\n";
        return 1;
    }
    std::ostringstream md;
    md << "# Gallery\n\n"
       << "Each operation family on the demo page (`kxgallery` draws it; regenerate the\n"
       << "pictures with `./build.sh gallery`).  Every picture is the result of the `kxpipe`\n"
       << "pipeline under it, applied to the family's input.\n\n"
       << "![the demo page](page.png)\n";
    int count = 0;
    for (const auto &f : families()) {
        ImagePtr input(kxiClone(page.get(), nullptr));
        if (*f.prepare && !run(input, f.prepare, pagePath, error)) {
            std::cerr << "kxgallery: " << f.name << ": input not prepared (" << error << "), family left out\n";
            continue;
        }
        // A family that works on the page itself shows the page as its input.
        std::string inputName = "page.png";
        if (*f.prepare) {
            inputName = std::string(f.name) + "-input.png";
            if (!writeImageAtomic(input.get(), dir + "/" + inputName, error)) {
                std::cerr << "kxgallery: " << error << "\n";
                return 1;
            }
        }
        std::ostringstream rows;
        int n = 0;
        for (const auto &e : f.examples) {
            ImagePtr image(kxiClone(input.get(), nullptr));
            if (!run(image, e.pipeline, pagePath, error)) {
                std::cerr << "kxgallery: " << f.name << ": '" << e.pipeline << "' left out: " << error << "\n";
                continue;
            }
            const std::string name = std::string(f.name) + "-" + std::to_string(++n) + ".png";
            if (!writeImageAtomic(image.get(), dir + "/" + name, error)) {
                std::cerr << "kxgallery: " << error << "\n";
                return 1;
            }
            // The pipeline as typed for kxpipe: the page file by name, text
            // with spaces quoted.
            std::string shown;
            for (std::string w : words(e.pipeline)) {
                if (w == "@page") w = "page.png";
                if (w.find('_') != std::string::npos) {
                    for (auto &c : w)
                        if (c == '_') c = ' ';
                    w = "'" + w + "'";
                }
                shown += (shown.empty() ? "" : " ") + w;
            }
            rows << "| ![" << e.caption << "](" << name << ") | " << e.caption << "<br>`" << shown << "` |\n";
            ++count;
        }
        if (n == 0) continue;
        md << "\n## " << f.title << "\n\n"
           << "Input" << (*f.prepare ? std::string(": `") + f.prepare + "`" : std::string(": the page")) << "\n\n"
           << "![input](" << inputName << ")\n\n"
           << "| result | pipeline |\n|---|---|\n"
           << rows.str();
    }
    std::ofstream(dir + "/README.md") << md.str();
    std::cerr << "kxgallery: wrote " << count << " pictures and " << dir << "/README.md\n";
    return 0;
}
