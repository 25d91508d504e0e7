// The table of library operations reachable by name from the tools
// (kxpipe, kxdemo, kxgallery): each entry names an export, spells its
// arguments with their accepted ranges and calls it on one image.
//
// The entries of the exports are generated at build time from the export
// manifest (include/kxpre-exports.toml, by tools/manifest/generate.py); a
// few tool-only steps convert the image type: "bin", "gray", "rgb", "rgba".
// Names: the export's name without its "kx"/"kxb" prefix, in lower case
// (kxNormalize -> "normalize", kxbLocalIntegral -> "localintegral").
//
// Argument kinds of the command-line words:
//   i  integer (decimal or 0x hex) of the C type's range
//   u  unsigned 32-bit value: a colour 0xAARRGGBB (decimal, 0x hex or
//      #RRGGBB, which means opaque), channel bits or flags
//   f  single-precision number      d  double-precision number
//   s  text
//   p  point list x,y,x,y,...       (integers, at least one point)
//   q  four points x,y,... as numbers (a quadrilateral)
//   I  another image file, converted to the current image's type
//   C  another image file, used as it is
//   M  a one-byte mask image file, or "-" for none
//   E  structuring element "rect:WxH", "ellipse:WxH", "cross:WxH" or "-"
#pragma once

#include <cmath>
#include <initializer_list>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
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

// Image kinds as bits.
enum KindBits : unsigned { kBin = 1, kGray = 2, kRgb = 4, kRgba = 8, kAnyKind = 15 };

// The kind bit of an image type (0 for none of the four).
unsigned kindBit(int imageType);

// "grey", "binary" ... for messages: the kinds of a bit set, joined by "or".
std::string kindWords(unsigned kinds);

// One command-line argument of a step.  A word outside lo..hi (the C type's
// range) is malformed; a value outside the documented range, or an image of
// another kind or size, would make the export do nothing and is refused
// unless the user asks for lenience.
struct Parameter {
    const char *name;
    char kind;
    long long lo = std::numeric_limits<int>::min(), hi = std::numeric_limits<int>::max();  // i
    double min = -INFINITY, max = INFINITY;  // documented range (i, u, f, d)
    std::vector<long long> values = {};     // when not empty: the accepted values
    bool finite = false;                    // f, d: NaN and infinities refused
    int minPoints = 0;                      // p
    unsigned images = kAnyKind;             // C: accepted kinds
    int sameSize = -1;                      // I, C, M: the argument whose size it must have; -2 the image
    const char *fallback = nullptr;         // the word used when the argument is left out (none: required)
};

// A condition between arguments: left OP right, each side an argument index
// or one of these.
enum Side : int { kNumber = -1, kWidth = -2, kHeight = -3 };
struct Condition {
    const char *text;
    int left;
    const char *op;
    int right;
    double number;  // when right is kNumber
};

// What a step did to the image.
struct StepResult {
    StepResult() = default;
    StepResult(bool ok_, std::string message_ = {}, bool nothing_ = false)
        : ok(ok_), message(std::move(message_)), nothing(nothing_)
    {
    }
    bool ok = true;
    std::string message;   // an error when !ok; else a reported value, if any
    bool nothing = false;  // the library reported that it changed nothing
    std::string note;      // what a step that acts found or did ("angle 0.34"), for stderr
};

// A number as a person reads it: up to 15 significant digits, trailing
// zeros dropped (0.34249999999999997 -> "0.3425", 3.0 -> "3", 1e-20 ->
// "1e-20").  Every number the tools print goes through it.
std::string showNumber(double v);

// `r` with a note naming values the step computed ("angle 0.3425, ..."):
// the helper of every step that reports what it did beside its image.
StepResult noted(StepResult r, std::initializer_list<const char *> names, const double *values);

using RunFn = StepResult (*)(ImagePtr &image, const Arguments &args);

struct Operation {
    const char *name;      // as typed on the command line
    const char *function;  // the export it calls
    const char *summary;   // one line for --help
    unsigned images;       // kinds of image it works on
    std::vector<Parameter> args;
    std::vector<Condition> conditions;  // between arguments; all must hold
    bool prints;           // a query: its value is printed
    RunFn run;
};

// Every operation, in help order (grouped by family).
const std::vector<Operation> &operations();

// The operation of that name, or null.
const Operation *findOperation(std::string_view name);

// One integer: optional sign, decimal digits or 0x and hex digits, within
// lo..hi.  The only integer parser of the tools.
bool parseInteger(std::string_view word, long long lo, long long hi, long long &out);

// Parses one word as an argument (files are not read here).  False with a
// message naming the argument on malformed input.
bool parseValue(const std::string &word, const Parameter &param, Value &value, std::string &error);

// Reads the files named by I/C/M arguments and builds E elements; false
// with a message when a file cannot be read.
bool loadValue(Value &value, std::string &error);

// Why the arguments would make the step do nothing (a value outside its
// documented range, a broken condition between them), or "" when they
// would not.  Conditions on the image's size are left to checkImage.
std::string checkArguments(const Operation &op, const Arguments &args);

// Why the step would do nothing on this image (its kind, a condition on its
// size, another image's kind or size), or "".  Run after the I arguments are
// converted.
std::string checkImage(const Operation &op, const Image &image, const Arguments &args);

// Runs one step: converts I arguments to the image's type and calls the
// export.
StepResult runStep(const Operation &op, ImagePtr &image, Arguments &args);

// Parses, checks, loads and runs one operation by name (ok is false, with a
// message, for an unknown operation, bad arguments or a step that would do
// nothing).
StepResult applyOperation(ImagePtr &image, std::string_view name, const std::vector<std::string> &args);

}  // namespace kxtools
