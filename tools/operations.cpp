// The operation table of the tools: the steps generated from the export
// manifest, the tool-only type conversions, argument parsing and the checks
// that refuse a step that would do nothing.
#include "operations.hpp"

#include "kxextra.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

namespace kxtools {

namespace {

// ---- the results of a call, by the manifest's result kinds

// image, new: the image, or a new one the library made (null: a failure).
StepResult replaced(ImagePtr &image, Image *out)
{
    if (!out) return {false, "the operation returned no image"};
    if (out != image.get()) image.reset(out);
    return {};
}

// u32, u8, int, flood: a value the user reads.
template <class R>
StepResult shown(R value)
{
    return {true, std::to_string(static_cast<long long>(value))};
}

// Values written through pointers (a status result of 1), shown as "a b ...".
StepResult shownNumbers(const double *values, int count)
{
    std::string text;
    for (int i = 0; i < count; ++i) {
        if (i) text += ' ';
        text += showNumber(values[i]);
    }
    return {true, text};
}

// status: 1 done, 0 nothing done.
StepResult status(int done)
{
    StepResult r;
    r.nothing = done == 0;
    return r;
}

// destination: the export draws into a new image of the size the first two
// words give, which then replaces the current one.
template <class F>
StepResult into(ImagePtr &image, int width, int height, F call)
{
    std::string unreadable;  // a result no file of ours could hold is refused before it is computed
    if (!checkResultSize(width, height, "", unreadable)) return {false, "the result would be too large for any file: " + unreadable};
    ImagePtr dst(kxCreateImage(image->imageType, width, height));
    if (!dst)
        return {false, "cannot create a " + std::to_string(width) + " x " + std::to_string(height) + " image"};
    const auto r = call(image.get(), dst.get());
    if constexpr (std::is_pointer_v<decltype(r)>) {
        if (!r) return {false, "the operation returned no image"};
    } else if (!r) {
        return status(0);
    }
    image = std::move(dst);
    return {};
}

// dist: a KIT_GRAY image of the distances of a binary image, capped at 255.
StepResult distanceMap(ImagePtr &image)
{
    Image *im = image.get();
    const int needed = kxDistTrans(im, nullptr, 0);
    if (needed <= 0) return status(0);
    std::vector<int32_t> d(size_t(needed), 0);
    if (kxDistTrans(im, d.data(), uint32_t(needed)) != needed) return status(0);
    ImagePtr out(kxCreateImage(KIT_GRAY, im->width, im->height));
    if (!out) return {false, "cannot create the distance image"};
    for (int y = 0; y < im->height; ++y)
        for (int x = 0; x < im->width; ++x)
            out->data[size_t(y) * size_t(out->pitch) + size_t(x)] =
                uint8_t(std::clamp(d[size_t(y) * size_t(im->width) + size_t(x)], 0, 255));
    image = std::move(out);
    return {};
}

FloodValue floodValue(uint32_t colour)
{
    return FloodValue{uint8_t(colour), uint8_t(colour >> 8), uint8_t(colour >> 16)};
}
FloodRecord floodRange(double v) { return FloodRecord{{v, v, v, v}}; }

StepResult castTo(ImagePtr &image, int type)
{
    return replaced(image, kxiCast(image.get(), type));
}

// components: a colour picture of the connected components of a binary
// image (kxxLabel); each label gets a colour of its own, the background black.
StepResult colourComponents(ImagePtr &image, int connectivity)
{
    const Image *im = image.get();
    std::vector<int32_t> labels(size_t(im->width) * size_t(im->height));
    const int count = kxxLabel(im, connectivity, labels.data());
    if (count < 0) return status(0);
    ImagePtr out(kxCreateImage(KIT_RGB, im->width, im->height));
    if (!out) return {false, "cannot create the component picture"};
    for (int y = 0; y < im->height; ++y) {
        uint8_t *row = out->data + size_t(y) * size_t(out->pitch);
        for (int x = 0; x < im->width; ++x) {
            const uint32_t k = uint32_t(labels[size_t(y) * size_t(im->width) + size_t(x)]);
            // Well-spread bright colours: the label times an odd constant.
            const uint32_t c = k ? (k * 2654435761u) | 0x404040u : 0u;
            row[3 * x] = uint8_t(c), row[3 * x + 1] = uint8_t(c >> 8), row[3 * x + 2] = uint8_t(c >> 16);
        }
    }
    image = std::move(out);
    return {};
}

// gradientmagnitude: the gradient magnitude of a grey image (kxxGradient, 16-bit)
// shown as grey, scaled so that the largest magnitude is 255.
StepResult gradientPicture(ImagePtr &image, int op, int norm)
{
    const Image *im = image.get();
    std::vector<uint16_t> m(size_t(im->width) * size_t(im->height));
    if (!kxxGradient(im, op, norm, nullptr, nullptr, m.data(), nullptr, nullptr)) return status(0);
    const uint32_t top = std::max<uint32_t>(1, *std::max_element(m.begin(), m.end()));
    ImagePtr out(kxCreateImage(KIT_GRAY, im->width, im->height));
    if (!out) return {false, "cannot create the gradient picture"};
    for (int y = 0; y < im->height; ++y)
        for (int x = 0; x < im->width; ++x)
            out->data[size_t(y) * size_t(out->pitch) + size_t(x)] =
                uint8_t((m[size_t(y) * size_t(im->width) + size_t(x)] * 255u + top / 2) / top);
    image = std::move(out);
    return {};
}

// `v` rounded to `decimals` places, as a person reads it (0.3425 with 3 ->
// "0.343", -0.0001 -> "0").
std::string readable(double v, int decimals)
{
    const double unit = std::pow(10.0, decimals);
    return showNumber(std::round(v * unit) / unit);
}

// What a deskew did: "turned by 1.234 degrees (confidence 0.93)" or "not
// turned: angle 0.2, confidence 0.31 below 0.5".
std::string skewNote(double angle, double confidence, double minConfidence, bool turned)
{
    const std::string a = readable(angle, 3), c = readable(confidence, 2);
    if (turned) return "turned by " + a + " degrees (confidence " + c + ")";
    if (angle == 0.0) return "not turned: angle 0 (confidence " + c + ")";
    return "not turned: angle " + a + ", confidence " + c + " below " + readable(minConfidence, 2);
}

// deskew: kxxDeskew, saying what it did.  The confidence comes from
// kxxFindSkew (the same search kxxDeskew runs, so the same angle).  Its
// arguments are the manifest's (pipe_step).
StepResult deskewStep(ImagePtr &image, const Arguments &a)
{
    const double minConfidence = a.d(0);
    const int nearest = a.i(1);
    double angle = 0.0, confidence = 0.0;
    if (!kxxFindSkew(image.get(), &angle, &confidence)) return status(0);
    StepResult r = replaced(image, kxxDeskew(image.get(), minConfidence, nearest, &angle));
    r.note = skewNote(angle, confidence, minConfidence, confidence >= minConfidence && angle != 0.0);
    return r;
}

// deskewpage: kxxDeskewPage (turned exactly when confidence >= minimum and
// the angle is not 0).  Its argument is the manifest's (pipe_step).
StepResult deskewPageStep(ImagePtr &image, const Arguments &a)
{
    const double minConfidence = a.d(0);
    double angle = 0.0, confidence = 0.0;
    StepResult r = replaced(image, kxxDeskewPage(image.get(), minConfidence, &angle, &confidence));
    r.note = skewNote(angle, confidence, minConfidence, confidence >= minConfidence && angle != 0.0);
    return r;
}

// cleanpage: kxxCleanPage and its report.
StepResult cleanPageStep(ImagePtr &image, int dpi, int turn)
{
    KxxCleanReport c{};
    Image *out = kxxCleanPage(image.get(), dpi, turn, &c);
    if (out && out->imageType != KIT_BIN) return status(0);
    StepResult r = replaced(image, out);
    r.note = std::string(c.dpiEstimated ? "estimated " : "") + std::to_string(c.dpi) + " dpi, stroke width " +
             std::to_string(c.strokeWidth) + ", text height " + std::to_string(c.textHeight) + "; " +
             std::to_string(c.specks) + " specks (" + std::to_string(c.speckPixels) + " pixels, limit " +
             std::to_string(c.speckLimit) + "), border " + std::to_string(c.borderPixels) + " pixels";
    if (turn & KXX_CLEAN_RULINGS) r.note += ", ruling lines " + std::to_string(c.linePixels) + " pixels";
    r.note += (turn & KXX_CLEAN_TURN) ? "; " + skewNote(c.angle, c.confidence, 0.5, c.turned != 0) : "; not searched for skew";
    return r;
}

std::vector<Operation> buildTable()
{
    // clang-format off
    return {
    {"bin", "kxiCast", "Converts to a binary image (non-zero grey -> 1).", kAnyKind, {}, {}, false,
     [](ImagePtr &image, const Arguments &) { return castTo(image, KIT_BIN); }},
    {"gray", "kxiCast", "Converts to grey (luminance of a colour image).", kAnyKind, {}, {}, false,
     [](ImagePtr &image, const Arguments &) { return castTo(image, KIT_GRAY); }},
    {"rgb", "kxiCast", "Converts to B,G,R colour.", kAnyKind, {}, {}, false,
     [](ImagePtr &image, const Arguments &) { return castTo(image, KIT_RGB); }},
    {"rgba", "kxiCast", "Converts to B,G,R,A colour (alpha 255).", kAnyKind, {}, {}, false,
     [](ImagePtr &image, const Arguments &) { return castTo(image, KIT_RGBA); }},
    // Pictures of libkxextra's array results.
    {"components", "kxxLabel", "Colours the connected components (4 or 8 neighbours).", kBin,
     {{.name = "connectivity", .kind = 'i', .values = {4, 8}}}, {}, false,
     [](ImagePtr &image, const Arguments &a) { return colourComponents(image, a.i(0)); }},
    {"gradientmagnitude", "kxxGradient", "Gradient magnitude (op 0 Sobel, 1 Scharr; norm 1 L1, 2 L2), scaled to 0..255.",
     kGray, {{.name = "op", .kind = 'i', .values = {0, 1}}, {.name = "norm", .kind = 'i', .values = {1, 2}}}, {},
     false, [](ImagePtr &image, const Arguments &a) { return gradientPicture(image, a.i(0), a.i(1)); }},
    // Steps that act, and say on stderr what they did.
    {"cleanpage", "kxxCleanPage", "A clean binary page for OCR, ink set (dpi 0: estimated; turn 1: deskew, 2: rulings).",
     kGray | kRgb | kRgba,
     {{.name = "dpi", .kind = 'i', .min = 0, .max = 10000, .fallback = "0"},
      {.name = "turn", .kind = 'i', .min = 0, .max = 3, .fallback = "1"}}, {}, false,
     [](ImagePtr &image, const Arguments &a) { return cleanPageStep(image, a.i(0), a.i(1)); }},
// The steps of each library's export manifest (kxtools.cmake generates
// them; a companion library adds its own file here).
#include "kxpre_operations.inc"
#include "kxextra_operations.inc"
    };
    // clang-format on
}

bool parseNumber(const std::string &word, double &out)
{
    if (word.empty()) return false;
    errno = 0;
    char *end = nullptr;
    const double v = std::strtod(word.c_str(), &end);
    if (errno || *end || !std::isfinite(v)) return false;
    out = v;
    return true;
}

// Splits at commas (an empty item stays, and is then malformed).
std::vector<std::string> splitList(const std::string &word)
{
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        const size_t comma = word.find(',', start);
        out.push_back(word.substr(start, comma - start));
        if (comma == std::string::npos) return out;
        start = comma + 1;
    }
}

// The documented range of an argument in words ("" when there is none).
std::string accepted(const Parameter &s)
{
    if (!s.values.empty()) {
        std::string out = "one of";
        for (size_t k = 0; k < s.values.size(); ++k) out += (k ? ", " : " ") + std::to_string(s.values[k]);
        return out;
    }
    if (std::isfinite(s.min) && std::isfinite(s.max)) return showNumber(s.min) + ".." + showNumber(s.max);
    if (std::isfinite(s.min)) return "at least " + showNumber(s.min);
    if (std::isfinite(s.max)) return "at most " + showNumber(s.max);
    return "";
}

// The value of a side of a condition.
double sideValue(int side, double number, const Image *image, const Arguments &args)
{
    if (side == kNumber) return number;
    if (side == kWidth) return image ? image->width : 0;
    if (side == kHeight) return image ? image->height : 0;
    const Value &v = args.values[size_t(side)];
    return v.kind == 'f' || v.kind == 'd' ? v.number : double(v.integer);
}

std::string sideText(const Operation &op, int side, double number, const Image *image, const Arguments &args)
{
    const double v = sideValue(side, number, image, args);
    const char *name = side == kWidth ? "width" : side == kHeight ? "height" : op.args[size_t(side)].name;
    return std::string(name) + " " + showNumber(v);
}

std::string checkConditions(const Operation &op, const Image *image, const Arguments &args)
{
    for (const auto &c : op.conditions) {
        const bool sized = c.left <= kWidth || c.right <= kWidth;
        if (sized != (image != nullptr)) continue;
        const double a = sideValue(c.left, c.number, image, args), b = sideValue(c.right, c.number, image, args);
        const std::string o = c.op;
        const bool holds = o == "<" ? a < b : o == "<=" ? a <= b : o == ">" ? a > b : o == ">=" ? a >= b
                         : o == "==" ? a == b : a != b;
        if (!holds) {
            std::string got = sideText(op, c.left, c.number, image, args);
            if (c.right != kNumber) got += ", " + sideText(op, c.right, c.number, image, args);
            return std::string("needs ") + c.text + " (got " + got + ")";
        }
    }
    return "";
}

std::string kindOf(const Image &im)
{
    const unsigned bit = kindBit(im.imageType);
    return bit ? kindWords(bit) : "type " + std::to_string(im.imageType);
}

}  // namespace

unsigned kindBit(int imageType)
{
    switch (imageType) {
    case KIT_BIN: return kBin;
    case KIT_GRAY: return kGray;
    case KIT_RGB: return kRgb;
    case KIT_RGBA: return kRgba;
    default: return 0;
    }
}

std::string kindWords(unsigned kinds)
{
    static const char *const words[] = {"binary", "grey", "B,G,R colour", "B,G,R,A colour"};
    std::string out;
    for (unsigned k = 0; k < 4; ++k)
        if (kinds & (1u << k)) out += (out.empty() ? "" : " or ") + std::string(words[k]);
    return out;
}

std::string showNumber(double v)
{
    if (v == 0) return "0";  // also -0
    char text[40];
    std::snprintf(text, sizeof text, "%.15g", v);
    return text;
}

StepResult noted(StepResult r, std::initializer_list<const char *> names, const double *values)
{
    if (!r.ok) return r;
    size_t k = 0;
    for (const char *name : names) {
        if (k) r.note += ", ";
        r.note.append(name).append(" ").append(showNumber(values[k++]));
    }
    return r;
}

const std::vector<Operation> &operations()
{
    static const std::vector<Operation> table = buildTable();
    return table;
}

const Operation *findOperation(std::string_view name)
{
    for (const auto &o : operations())
        if (name == o.name) return &o;
    return nullptr;
}

bool parseInteger(std::string_view word, long long lo, long long hi, long long &out)
{
    bool negative = false;
    if (!word.empty() && (word[0] == '-' || word[0] == '+')) {
        negative = word[0] == '-';
        word.remove_prefix(1);
    }
    int base = 10;
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
        base = 16;
        word.remove_prefix(2);
    }
    if (word.empty()) return false;
    unsigned long long magnitude = 0;
    const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), magnitude, base);
    if (ec != std::errc() || end != word.data() + word.size()) return false;
    // The magnitude is compared before any conversion, so nothing overflows.
    constexpr unsigned long long limit = 1ULL << 63;
    if (magnitude > (negative ? limit : limit - 1)) return false;
    const long long v = negative ? (magnitude == limit ? std::numeric_limits<long long>::min()
                                                       : -static_cast<long long>(magnitude))
                                 : static_cast<long long>(magnitude);
    if (v < lo || v > hi) return false;
    out = v;
    return true;
}

bool parseValue(const std::string &word, const Parameter &param, Value &value, std::string &error)
{
    value = Value{};
    value.kind = param.kind;
    value.text = word;
    bool ok = true;
    std::string expected;
    switch (param.kind) {
    case 'i':
        ok = parseInteger(word, param.lo, param.hi, value.integer);
        expected = param.lo == 0 && param.hi == 255 ? "an integer 0..255" : "an integer";
        break;
    case 'u':
        if (word.size() == 7 && word[0] == '#') {
            ok = parseInteger("0x" + word.substr(1), 0, 0xFFFFFF, value.integer);
            value.integer |= 0xFF000000LL;
        } else {
            ok = word[0] != '-' && parseInteger(word, 0, 0xFFFFFFFFLL, value.integer);
        }
        expected = "a colour (0xAARRGGBB, #RRGGBB or a number 0..4294967295)";
        break;
    case 'f':
    case 'd':
        ok = parseNumber(word, value.number) &&
             (param.kind == 'd' || std::fabs(value.number) <= double(std::numeric_limits<float>::max()));
        expected = "a number";
        break;
    case 's':
        break;
    case 'p': {
        const auto items = splitList(word);
        ok = items.size() % 2 == 0;
        for (const auto &item : items) {
            long long v = 0;
            ok = ok && parseInteger(item, std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), v);
            value.points.push_back(int(v));
        }
        expected = "a point list x,y,x,y,... of integers";
        break;
    }
    case 'q': {
        const auto items = splitList(word);
        ok = items.size() == 8;
        for (const auto &item : items) {
            double v = 0;
            ok = ok && parseNumber(item, v) && std::fabs(v) <= 1e7;
            value.quad.push_back(float(v));
        }
        expected = "four points x0,y0,x1,y1,x2,y2,x3,y3";
        break;
    }
    case 'I':
    case 'C':
        ok = !word.empty();
        expected = "an image file";
        break;
    case 'M':
        ok = !word.empty();
        expected = "a mask image file or -";
        break;
    case 'E': {
        if (word == "-") break;
        const size_t colon = word.find(':'), x = word.find('x', colon == std::string::npos ? 0 : colon);
        const std::string shape = word.substr(0, colon);
        long long w = 0, h = 0;
        ok = colon != std::string::npos && x != std::string::npos &&
             (shape == "cross" || shape == "rect" || shape == "ellipse") &&
             parseInteger(std::string_view(word).substr(colon + 1, x - colon - 1), 1, 1024, w) &&
             parseInteger(std::string_view(word).substr(x + 1), 1, 1024, h);
        value.integer = (shape == "cross" ? KXM_CROSS : shape == "rect" ? KXM_RECT : KXM_ELLIPSE);
        value.points = {int(w), int(h)};
        expected = "an element rect:WxH, ellipse:WxH, cross:WxH or -";
        break;
    }
    default:
        ok = false;
        expected = "(unknown argument kind)";
    }
    if (!ok) error = std::string(param.name) + ": '" + word + "' is not " + expected;
    return ok;
}

bool loadValue(Value &value, std::string &error)
{
    switch (value.kind) {
    case 'I':
    case 'C':
    case 'M':
        if (value.kind == 'M' && value.text == "-") return true;
        value.image = readImage(value.text, error);
        if (!value.image) return false;
        if (value.kind == 'M' && value.image->imageType != KIT_GRAY && !kxiCast(value.image.get(), KIT_GRAY)) {
            error = value.text + ": cannot be used as a mask";
            return false;
        }
        return true;
    case 'E':
        if (value.text == "-") return true;
        value.element.reset(kxCreateMask(int(value.integer), value.points[0], value.points[1]));
        if (!value.element) {
            error = value.text + ": cannot create the element";
            return false;
        }
        return true;
    default:
        return true;
    }
}

std::string checkArguments(const Operation &op, const Arguments &args)
{
    for (size_t k = 0; k < op.args.size() && k < args.values.size(); ++k) {
        const Parameter &s = op.args[k];
        const Value &v = args.values[k];
        const std::string name = s.name;
        if (s.kind == 'p' && int(v.points.size() / 2) < s.minPoints)
            return name + " needs at least " + std::to_string(s.minPoints) + " points (got " +
                   std::to_string(v.points.size() / 2) + ")";
        if (s.kind != 'i' && s.kind != 'u' && s.kind != 'f' && s.kind != 'd') continue;
        const double x = s.kind == 'f' || s.kind == 'd' ? v.number : double(v.integer);
        const bool listed = s.values.empty() || std::find(s.values.begin(), s.values.end(), v.integer) != s.values.end();
        if (!listed || !(x >= s.min && x <= s.max) || (s.finite && !std::isfinite(x)))
            return name + " must be " + (accepted(s).empty() ? "finite" : accepted(s)) + " (got " + v.text + ")";
    }
    return checkConditions(op, nullptr, args);
}

std::string checkImage(const Operation &op, const Image &image, const Arguments &args)
{
    if (!(kindBit(image.imageType) & op.images))
        return "works on " + kindWords(op.images) + " images, not " + kindOf(image);
    for (size_t k = 0; k < op.args.size() && k < args.values.size(); ++k) {
        const Parameter &s = op.args[k];
        const Image *other = args.values[k].image.get();
        if (!other) continue;
        if (s.kind == 'C' && !(kindBit(other->imageType) & s.images))
            return std::string(s.name) + " must be a " + kindWords(s.images) + " image, not " + kindOf(*other);
        if (s.sameSize == -1) continue;
        const Image *want = s.sameSize == -2 ? &image : args.values[size_t(s.sameSize)].image.get();
        if (want && (other->width != want->width || other->height != want->height))
            return std::string(s.name) + " must have the size of " +
                   (s.sameSize == -2 ? std::string("the image") : op.args[size_t(s.sameSize)].name) + ", " +
                   std::to_string(want->width) + " x " + std::to_string(want->height) + " (got " +
                   std::to_string(other->width) + " x " + std::to_string(other->height) + ")";
    }
    return checkConditions(op, &image, args);
}

namespace {

// Converts the I arguments to the image's type.
std::string convertImages(ImagePtr &image, Arguments &args)
{
    for (auto &v : args.values) {
        if (v.kind == 'I' && v.image && v.image->imageType != image->imageType &&
            !kxiCast(v.image.get(), image->imageType))
            return v.text + ": cannot convert to the image's type";
    }
    return "";
}

}  // namespace

StepResult runStep(const Operation &op, ImagePtr &image, Arguments &args)
{
    if (!image) return {false, "no image"};
    const std::string error = convertImages(image, args);
    if (!error.empty()) return {false, error};
    return op.run(image, args);
}

StepResult applyOperation(ImagePtr &image, std::string_view name, const std::vector<std::string> &args)
{
    const Operation *op = findOperation(name);
    if (!op) return {false, "unknown operation " + std::string(name)};
    size_t required = op->args.size();
    while (required > 0 && op->args[required - 1].fallback) --required;
    if (args.size() < required || args.size() > op->args.size())
        return {false, std::string(name) + ": wrong number of arguments"};
    if (!image) return {false, "no image"};
    Arguments parsed;
    std::string error;
    for (size_t k = 0; k < op->args.size(); ++k) {
        Value v;
        const std::string word = k < args.size() ? args[k] : std::string(op->args[k].fallback);
        if (!parseValue(word, op->args[k], v, error) || !loadValue(v, error))
            return {false, std::string(name) + ": " + error};
        parsed.values.push_back(std::move(v));
    }
    error = convertImages(image, parsed);
    if (error.empty()) error = checkArguments(*op, parsed);
    if (error.empty()) error = checkImage(*op, *image, parsed);
    if (!error.empty()) return {false, std::string(name) + ": " + error};
    StepResult r = op->run(image, parsed);
    if (r.ok && r.nothing) return {false, std::string(name) + ": the library changed nothing"};
    return r;
}

}  // namespace kxtools
