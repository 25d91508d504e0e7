#include "pipe.hpp"

#include <chrono>
#include <iomanip>
#include <ostream>
#include <sstream>

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

std::string usageLine() { return "usage: kxpipe [--time] INPUT OUTPUT OPERATION [ARGS...] [OPERATION [ARGS...]]..."; }

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
        for (const auto &[argName, kind] : op->argumentList()) {
            if (pos >= words.size()) {
                error = "operation '" + name + "' needs " + argName + " (" + kindHelp(kind) + ")";
                return false;
            }
            Value v;
            if (!parseValue(words[pos], kind, "operation '" + name + "' " + argName, v, error)) return false;
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
      << "Reads INPUT (PNG, PGM or PPM), applies the operations in order and writes OUTPUT\n"
      << "(PGM/PPM for .pgm/.ppm/.pnm, else PNG).  OUTPUT is replaced only when every step\n"
      << "succeeded.  Grey files load as grey images, colour files as colour images; binary\n"
      << "images are written with 0 and 1 as black and white.  --time prints each step's\n"
      << "duration on stderr.  Exit codes: 0 done, 1 unreadable/unwritable file or failed\n"
      << "step, 2 bad operation or argument.\n\n"
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
        for (const auto &[argName, kind] : op.argumentList()) line += " " + argName;
        s << std::left << std::setw(44) << line << " " << op.summary << "  [" << op.function << "]\n";
    }
    return s.str();
}

int runPipe(const std::vector<std::string> &argv, std::ostream &out, std::ostream &err)
{
    std::vector<std::string> words(argv.begin() + (argv.empty() ? 0 : 1), argv.end());
    bool timing = false;
    if (!words.empty() && (words[0] == "--help" || words[0] == "-h")) {
        out << helpText();
        return kExitOk;
    }
    if (!words.empty() && words[0] == "--time") {
        timing = true;
        words.erase(words.begin());
    }
    if (!words.empty() && words[0].size() > 1 && words[0][0] == '-' && words[0] != "-") {
        err << "kxpipe: unknown option '" << words[0] << "'\n" << usageLine() << "\n";
        return kExitUsage;
    }
    if (words.size() < 2) {
        err << usageLine() << "\n(kxpipe --help lists the operations)\n";
        return kExitUsage;
    }
    const std::string input = words[0], output = words[1];
    std::vector<Step> steps;
    std::string error;
    if (!parsePipeline({words.begin() + 2, words.end()}, steps, error)) {
        err << "kxpipe: " << error << "\n";
        return kExitUsage;
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
        const auto t0 = Clock::now();
        const StepResult r = runStep(*steps[k].op, image, steps[k].args);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        if (!r.ok) {
            err << "kxpipe: step " << k + 1 << " (" << steps[k].op->name << "): " << r.message << "\n";
            return kExitFailure;
        }
        if (steps[k].op->prints()) out << steps[k].op->name << ": " << r.message << "\n";
        if (timing)
            err << "kxpipe: " << std::setw(16) << std::left << steps[k].op->name << std::right << std::fixed
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
