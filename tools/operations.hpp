// The table of library operations reachable by name from the tools
// (kxpipe, kxdemo, kxgallery): each entry names an export, spells its
// arguments and calls it on one image.
//
// Names: the export's name without its "kx"/"kxb" prefix, in lower case
// (kxNormalize -> "normalize", kxbLocalIntegral -> "localintegral").
// A few tool-only steps convert the image type: "bin", "gray", "rgb",
// "rgba".
//
// Argument kinds, written "name:kind" in an operation's argument list:
//   i  32-bit integer (decimal or 0x hex)
//   u  colour 0xAARRGGBB (decimal, 0x hex or #RRGGBB, which means opaque)
//   f  single-precision number      d  double-precision number
//   s  text
//   p  point list x,y,x,y,...       (integers, at least one point)
//   q  four points x,y,... as numbers (a quadrilateral)
//   I  another image file, converted to the current image's type
//   C  another image file, used as it is
//   M  a one-byte mask image file, or "-" for none
//   E  structuring element "rect:WxH", "ellipse:WxH", "cross:WxH" or "-"
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "imageio.hpp"

namespace kxtools {

struct MaskDeleter {
    void operator()(Mask *m) const { kxDestroyMask(m); }
};

// One parsed argument; the field used depends on its kind.
struct Value {
    char kind = 'i';
    std::string text;          // the word as given (and the value of 's')
    long long integer = 0;     // i, u
    double number = 0;         // f, d
    std::vector<int> points;   // p
    std::vector<float> quad;   // q
    ImagePtr image;            // I, C, M (null for "-")
    std::unique_ptr<Mask, MaskDeleter> element;  // E (null for "-")
};

class Arguments {
public:
    std::vector<Value> values;

    int i(size_t k) const { return int(values[k].integer); }
    uint32_t u(size_t k) const { return uint32_t(values[k].integer); }
    float f(size_t k) const { return float(values[k].number); }
    double d(size_t k) const { return values[k].number; }
    const char *s(size_t k) const { return values[k].text.c_str(); }
    const int *points(size_t k) const { return values[k].points.data(); }
    int count(size_t k) const { return int(values[k].points.size() / 2); }
    const float *quad(size_t k) const { return values[k].quad.data(); }
    Image *image(size_t k) const { return values[k].image.get(); }
    Mask *element(size_t k) const { return values[k].element.get(); }
};

// What a step did to the image.
struct StepResult {
    bool ok = true;
    std::string message;  // an error when !ok; else a reported value, if any
};

using RunFn = StepResult (*)(ImagePtr &image, const Arguments &args);

struct Operation {
    const char *name;      // as typed on the command line
    const char *function;  // the export it calls
    const char *args;      // "mean:f variance:f"
    const char *summary;   // one line for --help
    RunFn run;
    // Queries print the value their export returns ("print ..." summaries);
    // other steps' status results are not shown.
    bool prints() const { return std::string_view(summary).substr(0, 5) == "print"; }
    std::vector<std::pair<std::string, char>> argumentList() const;
};

// Every operation, in help order (grouped by family).
const std::vector<Operation> &operations();

// The operation of that name, or null.
const Operation *findOperation(std::string_view name);

// Parses one word as an argument of the given kind (files are not read
// here).  False with a message naming the argument on malformed input.
bool parseValue(const std::string &word, char kind, const std::string &argName, Value &value,
                std::string &error);

// Reads the files named by I/C/M arguments and builds E elements; false
// with a message when a file cannot be read.
bool loadValue(Value &value, std::string &error);

// Runs one step: converts I arguments to the image's type and calls the
// export.
StepResult runStep(const Operation &op, ImagePtr &image, Arguments &args);

// Parses, loads and runs one operation by name (ok is false, with a message,
// for an unknown operation or bad arguments).
StepResult applyOperation(ImagePtr &image, std::string_view name, const std::vector<std::string> &args);

}  // namespace kxtools
