#include "pipe.hpp"

#include <malloc.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cmath>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <sstream>

#include "kxio.h"

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
    return "usage: kxpipe [--time] [--lenient] [--page N] INPUT OUTPUT OPERATION [ARGS...] [OPERATION [ARGS...]]...";
}

struct Options {
    bool help = false, version = false, timing = false, lenient = false, check = false, serve = false;
    long long page = 0;  // 1 the first; 0 every page
    std::string tag;
};

// Takes the options out of the words, wherever they stand; "--" ends them.
// False with a message on an unknown option.  A lone "-" and negative
// numbers are words, not options.
bool takeOptions(std::vector<std::string> &words, Options &o, std::string &error)
{
    std::vector<std::string> rest;
    bool ended = false;
    for (size_t k = 0; k < words.size(); ++k) {
        std::string &w = words[k];
        // --page N / --page=N, --tag WORD / --tag=WORD
        std::string value;
        const bool takesValue = w.rfind("--page", 0) == 0 || w.rfind("--tag", 0) == 0;
        const std::string name = takesValue ? w.substr(0, w.find('=')) : w;
        if (!ended && takesValue && (name == "--page" || name == "--tag")) {
            if (name.size() < w.size()) {
                value = w.substr(name.size() + 1);
            } else if (k + 1 < words.size()) {
                value = words[++k];
            } else {
                error = "option " + name + " needs a value";
                return false;
            }
            if (name == "--tag") {
                o.tag = value;
                if (value.find('/') != std::string::npos) {
                    error = "--tag: '" + value + "' holds a /";
                    return false;
                }
            } else if (!parseInteger(value, 1, 1 << 30, o.page)) {
                error = "--page: '" + value + "' is not a page number (1 the first)";
                return false;
            }
            continue;
        }
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
        } else if (w == "--check") {
            o.check = true;
        } else if (w == "--serve") {
            o.serve = true;
        } else {
            error = "unknown option '" + w + "'";
            return false;
        }
    }
    words = std::move(rest);
    return true;
}

using Clock = std::chrono::steady_clock;
double msSince(Clock::time_point t0) { return std::chrono::duration<double, std::milli>(Clock::now() - t0).count(); }

const char *const kLenientHint = " (the step would do nothing; --lenient runs it anyway)";

// The parsed steps with their files loaded, run on one file after another.
// The images of I arguments are converted to each page's type, so every page
// starts from a copy of the file as it was read.
class Pipeline {
public:
    std::vector<Step> steps;

    // Checks the arguments and loads the files they name; the exit code
    // (0 when all is well) with the message on `err`.
    int prepare(const Options &options, std::ostream &err)
    {
        std::string error;
        if (!options.lenient)
            for (size_t k = 0; k < steps.size(); ++k) {
                const std::string why = checkArguments(*steps[k].op, steps[k].args);
                if (!why.empty()) {
                    err << "kxpipe: step " << k + 1 << " (" << steps[k].op->name << "): " << why << kLenientHint
                        << "\n";
                    return kExitUsage;
                }
            }
        return load(err);
    }

    int load(std::ostream &err)
    {
        if (loaded) return kExitOk;
        std::string error;
        for (auto &step : steps)
            for (auto &v : step.args.values) {
                if (!loadValue(v, error)) {
                    err << "kxpipe: " << error << "\n";
                    return kExitFailure;
                }
                if (v.kind == 'I' && v.image) originals.emplace_back(&v, ImagePtr(kxiClone(v.image.get(), nullptr)));
            }
        for (const auto &o : originals)
            if (!o.second) {
                err << "kxpipe: " << o.first->text << ": cannot copy the image\n";
                return kExitFailure;
            }
        loaded = true;
        return kExitOk;
    }

    // Reads INPUT, runs every page (or the one --page picks), writes OUTPUT.
    int runFile(const std::string &input, const std::string &output, const Options &options, std::ostream &out,
                std::ostream &err, FileTimes &times)
    {
        times = {};
        std::string error;
        if (!checkOutputName(output, error)) {  // before anything is read or computed
            err << "kxpipe: " << error << "\n";
            return kExitFailure;
        }
        char text[512] = "";
        auto t0 = Clock::now();
        const int count = kxioPageCount(input.c_str(), text, sizeof text);
        if (count < 1) {
            err << "kxpipe: " << input << ": " << text << "\n";
            return kExitFailure;
        }
        if (options.page > count) {
            err << "kxpipe: " << input << ": --page " << options.page << " asks for a page of a file of " << count
                << (count == 1 ? " page\n" : " pages\n");
            return kExitFailure;
        }
        if (!options.page && count > 1 && kxioFormatOfName(output.c_str()) != KXIO_TIFF) {
            err << "kxpipe: " << input << " has " << count << " pages and " << output
                << " holds one: write a .tif/.tiff file or pick a page with --page N\n";
            return kExitUsage;
        }
        std::vector<ImagePtr> pages;
        for (int p = options.page ? int(options.page) - 1 : 0; p < (options.page ? int(options.page) : count); ++p) {
            ImagePtr image(kxioRead(input.c_str(), p, text, sizeof text));
            if (!image) {
                err << "kxpipe: " << input << (count > 1 ? ": page " + std::to_string(p + 1) : std::string()) << ": "
                    << text << "\n";
                return kExitFailure;
            }
            pages.push_back(std::move(image));
        }
        times.decode = msSince(t0);
        times.pages = int(pages.size());
        if (const int code = load(err)) return code;
        const bool several = pages.size() > 1;
        for (size_t p = 0; p < pages.size(); ++p) {
            const std::string page = several ? "page " + std::to_string(p + 1) + ": " : std::string();
            t0 = Clock::now();
            const int code = runPage(pages[p], page, output, options, out, err);
            times.operations += msSince(t0);
            if (code) return code;
        }
        t0 = Clock::now();
        std::vector<const Image *> results;
        for (const auto &p : pages) results.push_back(p.get());
        const bool written = writePagesAtomic(results, output, error, options.tag);
        times.encode = msSince(t0);
        if (!written) {
            err << "kxpipe: " << error << "\n";
            return kExitFailure;
        }
        if (options.timing)
            err << "kxpipe: " << input << ": " << pages.size() << (several ? " pages" : " page") << ", decode "
                << showNumber(std::round(times.decode * 100) / 100) << " ms, operations "
                << showNumber(std::round(times.operations * 100) / 100) << " ms, encode "
                << showNumber(std::round(times.encode * 100) / 100) << " ms\n";
        return kExitOk;
    }

private:
    bool loaded = false;
    std::vector<std::pair<Value *, ImagePtr>> originals;

    int runPage(ImagePtr &image, const std::string &page, const std::string &output, const Options &options,
                std::ostream &out, std::ostream &err)
    {
        std::string error;
        for (auto &[value, original] : originals) {
            value->image.reset(kxiClone(original.get(), nullptr));
            if (!value->image) {
                err << "kxpipe: " << value->text << ": cannot copy the image\n";
                return kExitFailure;
            }
        }
        for (size_t k = 0; k < steps.size(); ++k) {
            Step &step = steps[k];
            const std::string where = "kxpipe: " + page + "step " + std::to_string(k + 1) + " (" + step.op->name + "): ";
            if (!options.lenient) {
                // The I arguments are checked as the step will see them.
                for (auto &v : step.args.values)
                    if (v.kind == 'I' && v.image && v.image->imageType != image->imageType)
                        kxiCast(v.image.get(), image->imageType);
                const std::string why = checkImage(*step.op, *image, step.args);
                if (!why.empty()) {
                    err << where << why << kLenientHint << "\n";
                    return kExitUsage;
                }
            }
            const auto t0 = Clock::now();
            const StepResult r = runStep(*step.op, image, step.args);
            const double ms = msSince(t0);
            if (!r.ok) {
                err << where << r.message << "\n";
                return kExitFailure;
            }
            if (r.nothing && !options.lenient) {
                err << where << "the library changed nothing" << kLenientHint << "\n";
                return kExitUsage;
            }
            if (!checkResultSize(image->width, image->height, output, error)) {  // not after the steps that follow
                err << where << "the result cannot be written: " << error << "\n";
                return kExitFailure;
            }
            if (step.op->prints) out << step.op->name << ": " << page << r.message << "\n";
            if (!r.note.empty()) err << step.op->name << ": " << page << r.note << "\n";
            if (options.timing)
                err << "kxpipe: " << page << std::setw(16) << std::left << step.op->name << std::right << std::fixed
                    << std::setprecision(2) << std::setw(9) << ms << " ms  " << image->width << "x" << image->height
                    << "\n" << std::defaultfloat;
        }
        return kExitOk;
    }
};

// One line: runs of white space (new lines included) become one space.
std::string oneLine(const std::string &s)
{
    std::string out;
    for (char c : s) {
        const bool space = c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == '\0';
        if (space && (out.empty() || out.back() == ' ')) continue;
        out += space ? ' ' : c;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

// The server of --serve; see pipe.hpp.
int serve(Pipeline &pipeline, Options options, std::istream &in, std::ostream &out)
{
    // The pages of one file after another reuse the memory of the last one:
    // freed page buffers stay in the heap instead of going back to the
    // system (and being touched anew, page by page, for the next file).
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    // Ends with the process that started it (a killed batch worker).
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const pid_t parent = getppid();
    if (parent == 1) return kExitFailure;
    options.timing = false;
    std::string input, output;
    while (std::getline(in, input, '\0') && std::getline(in, output, '\0')) {
        if (getppid() != parent) break;
        std::ostringstream printed, messages;
        FileTimes times;
        const int code = pipeline.runFile(input, output, options, printed, messages, times);
        char head[128];
        std::snprintf(head, sizeof head, "%d %.3f %.3f %.3f %d ", code, times.decode, times.operations, times.encode,
                      times.pages);
        out << head << oneLine(messages.str() + printed.str()) << '\0' << std::flush;
        if (!out) break;
    }
    return kExitOk;
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
        bool leftOut = false;  // once an argument is left out, so are the ones after it
        for (const auto &param : op->args) {
            leftOut = leftOut || pos >= words.size() || findOperation(words[pos]);
            if (leftOut && !param.fallback) {
                error = "operation '" + name + "' needs " + param.name + " (" + kindHelp(param.kind) + ")";
                return false;
            }
            Value v;
            if (!parseValue(leftOut ? std::string(param.fallback) : words[pos], param, v, error)) {
                error = "operation '" + name + "' " + error;
                if (param.fallback) error += ", nor an operation (kxpipe --help lists them)";
                return false;
            }
            step.args.values.push_back(std::move(v));
            pos += leftOut ? 0 : 1;
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
      << "Every page of a multi-page TIFF goes through the pipeline; a .tif/.tiff OUTPUT\n"
      << "gets every page, any other OUTPUT is an error unless --page N (1 the first)\n"
      << "picks one.  Arguments shown as name=value may be left out at the end of a step\n"
      << "(the step's words end, or the next word is an operation): sauvola 25, otsu.\n"
      << "Steps that act print what they found on stderr (deskew: angle 0.3425).\n\n"
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
        for (const auto &a : op.args) line += std::string(" ") + a.name + (a.fallback ? std::string("=") + a.fallback : "");
        s << std::left << std::setw(44) << line << " " << op.summary << "  [" << op.function << "]\n";
    }
    return s.str();
}

int runPipe(const std::vector<std::string> &argv, std::ostream &out, std::ostream &err)
{
    return runPipe(argv, std::cin, out, err);
}

int runPipe(const std::vector<std::string> &argv, std::istream &in, std::ostream &out, std::ostream &err)
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
    const size_t files = options.check || options.serve ? 0 : 2;
    if (words.size() < files) {
        err << usageLine() << "\n(kxpipe --help lists the operations)\n";
        return kExitUsage;
    }
    Pipeline pipeline;
    if (!parsePipeline({words.begin() + std::ptrdiff_t(files), words.end()}, pipeline.steps, error)) {
        err << "kxpipe: " << error << "\n";
        return kExitUsage;
    }
    if (options.check || options.serve) {
        if (const int code = pipeline.prepare(options, err)) return code;
        if (options.serve) return serve(pipeline, options, in, out);
        for (const auto &step : pipeline.steps) {
            out << step.op->name << '\0';
            for (const auto &v : step.args.values) out << v.text << '\0';
        }
        return kExitOk;
    }
    // The words are checked before the input is read, its files loaded after.
    if (!options.lenient)
        for (size_t k = 0; k < pipeline.steps.size(); ++k) {
            const std::string why = checkArguments(*pipeline.steps[k].op, pipeline.steps[k].args);
            if (!why.empty()) {
                err << "kxpipe: step " << k + 1 << " (" << pipeline.steps[k].op->name << "): " << why << kLenientHint
                    << "\n";
                return kExitUsage;
            }
        }
    FileTimes times;
    return pipeline.runFile(words[0], words[1], options, out, err, times);
}

}  // namespace kxtools
