#include "pipe.hpp"

#include <chrono>
#include <iomanip>
#include <ostream>
#include <sstream>

#ifndef KX_VERSION
#error "KX_VERSION (the project version) must be defined by the build"
#endif

namespace kxtools {

namespace {

const char *kindHelp(char kind)
{
    switch (kind) {
    case 'i': return "integer";
    case 'u': return "colour";
    case 'f':
    case 'd': return "number";
    case 's': return "text";
    case 'p': return "x,y,...";
    case 'q': return "4 points";
    case 'I':
    case 'C': return "image file";
    case 'M': return "mask file|-";
    case 'E': return "element|-";
    default: return "?";
    }
}

std::string usageLine()
{
    return "usage: kxpipe [--time] [--lenient] INPUT OUTPUT OPERATION [ARGS...] [OPERATION [ARGS...]]...";
}

struct Options {
    bool help = false, version = false, timing = false, lenient = false;
};

// Takes the options out of the words, wherever they stand; "--" ends them.
// False with a message on an unknown option.  A lone "-" and negative
// numbers are words, not options.
bool takeOptions(std::vector<std::string> &words, Options &o, std::string &error)
{
    std::vector<std::string> rest;
    bool ended = false;
    for (auto &w : words) {
        if (ended || w.size() < 2 || w[0] != '-' || (w[1] != '-' && w != "-h")) {
            rest.push_back(std::move(w));
        } else if (w == "--") {
            ended = true;
        } else if (w == "--help" || w == "-h") {
            o.help = true;
        } else if (w == "--version") {
            o.version = true;
        } else if (w == "--time") {
            o.timing = true;
        } else if (w == "--lenient") {
            o.lenient = true;
        } else {
            error = "unknown option '" + w + "'";
            return false;
        }
    }
    words = std::move(rest);
    return true;
}

}  // namespace

bool parsePipeline(const std::vector<std::string> &words, std::vector<Step> &steps, std::string &error)
{
    steps.clear();
    size_t pos = 0;
    while (pos < words.size()) {
        const std::string &name = words[pos];
        const Operation *op = findOperation(name);
        if (!op) {
            error = "unknown operation '" + name + "' (kxpipe --help lists them)";
            return false;
        }
        ++pos;
        Step step;
        step.op = op;
        for (const auto &param : op->args) {
            // An optional argument left out: the words end, or the next one
            // is an operation (numbers never name one).
            if (param.fallback && (pos >= words.size() || findOperation(words[pos]))) {
                Value v;
                if (!parseValue(param.fallback, param, v, error)) return false;
                step.args.values.push_back(std::move(v));
                continue;
            }
            if (pos >= words.size()) {
                error = "operation '" + name + "' needs " + param.name + " (" + kindHelp(param.kind) + ")";
                return false;
            }
            Value v;
            if (!parseValue(words[pos], param, v, error)) {
                error = "operation '" + name + "' " + error;
                return false;
            }
            step.args.values.push_back(std::move(v));
            ++pos;
        }
        steps.push_back(std::move(step));
    }
    return true;
}

std::string helpText()
{
    std::ostringstream s;
    s << usageLine() << "\n\n"
      << "Reads INPUT (PNG, PNM, TIFF or JPEG), applies the operations in order and writes\n"
      << "OUTPUT in the format of its extension (.png, .pnm/.pgm/.ppm/.pbm, .tif/.tiff,\n"
      << ".jpg/.jpeg; any other name is an error).  OUTPUT is replaced only when every step\n"
      << "succeeded.  Grey files load as grey images, colour files as colour images, bilevel\n"
      << "TIFF and PBM as binary; binary images are written with 0 and 1 as black and white.\n\n"
      << "A step that would do nothing is an error: an image kind the operation does not\n"
      << "take, or an argument outside its range (see the library's header).  --lenient\n"
      << "runs such steps anyway.  --time prints each step's duration on stderr;\n"
      << "--version prints the version.  Options may stand anywhere; -- ends them.\n"
      << "Exit codes: 0 done, 1 unreadable/unwritable file or failed step, 2 bad operation\n"
      << "or argument, or a step that would do nothing.\n\n"
      << "Arguments: integer; colour 0xAARRGGBB, #RRGGBB or a number; x,y,... integer point\n"
      << "list; 4 points x0,y0,...,x3,y3; image file (converted to the image's type); mask\n"
      << "file (one byte per pixel) or - for none; element rect:WxH, ellipse:WxH, cross:WxH\n"
      << "or - for the default.\n\n"
      << "Example (dark ink on paper: the binarized paper is 1, so invert before the\n"
      << "binary steps):\n"
      << "  kxpipe page.png out.png gray normalize 128 1200 localintegral 31 128 0.34 \\\n"
      << "         invert fillhole removeborder thinning\n\n"
      << "Operations:\n";
    for (const auto &op : operations()) {
        std::string line = std::string("  ") + op.name;
        for (const auto &a : op.args) line += a.fallback ? std::string(" [") + a.name + "]" : std::string(" ") + a.name;
        s << std::left << std::setw(44) << line << " " << op.summary << "  [" << op.function << "]\n";
    }
    return s.str();
}

int runPipe(const std::vector<std::string> &argv, std::ostream &out, std::ostream &err)
{
    std::vector<std::string> words(argv.begin() + (argv.empty() ? 0 : 1), argv.end());
    Options options;
    std::string error;
    if (!takeOptions(words, options, error)) {
        err << "kxpipe: " << error << "\n" << usageLine() << "\n";
        return kExitUsage;
    }
    if (options.help) {
        out << helpText();
        return kExitOk;
    }
    if (options.version) {
        out << "kxpipe " << KX_VERSION << "\n";
        return kExitOk;
    }
    if (words.size() < 2) {
        err << usageLine() << "\n(kxpipe --help lists the operations)\n";
        return kExitUsage;
    }
    const std::string input = words[0], output = words[1];
    std::vector<Step> steps;
    if (!parsePipeline({words.begin() + 2, words.end()}, steps, error)) {
        err << "kxpipe: " << error << "\n";
        return kExitUsage;
    }
    const char *const lenientHint = " (the step would do nothing; --lenient runs it anyway)";
    if (!options.lenient)
        for (size_t k = 0; k < steps.size(); ++k) {
            const std::string why = checkArguments(*steps[k].op, steps[k].args);
            if (!why.empty()) {
                err << "kxpipe: step " << k + 1 << " (" << steps[k].op->name << "): " << why << lenientHint << "\n";
                return kExitUsage;
            }
        }
    if (!checkOutputName(output, error)) {  // before anything is computed
        err << "kxpipe: " << error << "\n";
        return kExitFailure;
    }
    ImagePtr image = readImage(input, error);
    if (!image) {
        err << "kxpipe: " << error << "\n";
        return kExitFailure;
    }
    for (auto &step : steps)
        for (auto &v : step.args.values)
            if (!loadValue(v, error)) {
                err << "kxpipe: " << error << "\n";
                return kExitFailure;
            }
    using Clock = std::chrono::steady_clock;
    for (size_t k = 0; k < steps.size(); ++k) {
        Step &step = steps[k];
        const std::string where = "kxpipe: step " + std::to_string(k + 1) + " (" + step.op->name + "): ";
        if (!options.lenient) {
            // The I arguments are checked as the step will see them.
            for (auto &v : step.args.values)
                if (v.kind == 'I' && v.image && v.image->imageType != image->imageType)
                    kxiCast(v.image.get(), image->imageType);
            const std::string why = checkImage(*step.op, *image, step.args);
            if (!why.empty()) {
                err << where << why << lenientHint << "\n";
                return kExitUsage;
            }
        }
        const auto t0 = Clock::now();
        const StepResult r = runStep(*step.op, image, step.args);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        if (!r.ok) {
            err << where << r.message << "\n";
            return kExitFailure;
        }
        if (r.nothing && !options.lenient) {
            err << where << "the library changed nothing" << lenientHint << "\n";
            return kExitUsage;
        }
        if (!checkResultSize(image->width, image->height, output, error)) {  // not after the steps that follow
            err << where << "the result cannot be written: " << error << "\n";
            return kExitFailure;
        }
        if (step.op->prints) out << step.op->name << ": " << r.message << "\n";
        if (!r.note.empty()) err << step.op->name << ": " << r.note << "\n";
        if (options.timing)
            err << "kxpipe: " << std::setw(16) << std::left << step.op->name << std::right << std::fixed
                << std::setprecision(2) << std::setw(9) << ms << " ms  " << image->width << "x" << image->height
                << "\n";
    }
    if (!writeImageAtomic(image.get(), output, error)) {
        err << "kxpipe: " << error << "\n";
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace kxtools
