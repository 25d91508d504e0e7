// kxpipe: read an image, run a pipeline of library operations, write it.
//
//   kxpipe [OPTIONS] INPUT OUTPUT OPERATION [ARGS...] [OPERATION [ARGS...]]...
//   kxpipe --check OPERATION [ARGS...]...
//   kxpipe --serve [--tag WORD] [--page N] OPERATION [ARGS...]...
//
// Options (--time, --lenient, --page N, --help, --version) may stand
// anywhere on the line; "--" ends them.  Exit codes: 0 success; 1 a file
// could not be read or written, or an operation failed; 2 a usage error
// (unknown operation, bad or missing argument, a multi-page input for an
// output that holds one page) or a step that would do nothing (an image kind
// the operation does not take, an argument outside its range) unless
// --lenient is given.  OUTPUT is replaced only when every step succeeded on
// every page.
//
// Arguments with a default (the manifest's) may be left out at the end of a
// step: an argument is taken as left out when the words end or the next word
// names an operation ("sauvola 25 invert" is "sauvola 25 0.2 127.5 invert").
//
// Pages: every page of a multi-page TIFF runs through the pipeline on its
// own; a TIFF output gets every result as its pages, any other output is an
// error unless --page N (1 the first) picks one page.
//
// --check parses and checks the steps and loads their files as a run would,
// prints the steps with their defaults filled in (each word followed by a
// NUL byte) and exits with the code a run would give for them.
//
// --serve runs the parsed steps on many files in one process (kxpre.batch's
// workers): requests on stdin are INPUT NUL OUTPUT NUL; each gets one reply
// on stdout, "CODE DECODE_MS OPERATIONS_MS ENCODE_MS PAGES MESSAGE" and a
// NUL, where CODE is the exit code kxpipe would give for that file and
// MESSAGE what it would print (stderr, then stdout), on one line.  The
// temporary files of the atomic writes carry the tag (".kxtmp-WORD...").
// The server ends at the end of its input or when its parent is gone.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "operations.hpp"

namespace kxtools {

enum ExitCode { kExitOk = 0, kExitFailure = 1, kExitUsage = 2 };

struct Step {
    const Operation *op = nullptr;
    Arguments args;
};

// Parses the operation words into steps, filling in left-out defaults.
// False with a message on an unknown operation or a bad or missing argument.
// Documented ranges are not checked here (checkArguments).
bool parsePipeline(const std::vector<std::string> &words, std::vector<Step> &steps, std::string &error);

// Where a file's time went, in milliseconds.
struct FileTimes {
    double decode = 0, operations = 0, encode = 0;
    int pages = 0;
};

// The --help text, generated from the operation table.
std::string helpText();

// The whole program; returns the exit code.  Reports go to `out` (values
// printed by query operations) and `err` (messages, timings, what acting
// steps did).  --serve reads its requests from `in`.
int runPipe(const std::vector<std::string> &argv, std::ostream &out, std::ostream &err);
int runPipe(const std::vector<std::string> &argv, std::istream &in, std::ostream &out, std::ostream &err);

}  // namespace kxtools
