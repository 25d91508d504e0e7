// kxpipe: read an image, run a pipeline of library operations, write it.
//
//   kxpipe [OPTIONS] INPUT OUTPUT OPERATION [ARGS...] [OPERATION [ARGS...]]...
//
// Options (--time, --lenient, --help, --version) may stand anywhere on the
// line; "--" ends them.  Exit codes: 0 success; 1 a file could not be read
// or written, or an operation failed; 2 a usage error (unknown operation,
// bad or missing argument) or a step that would do nothing (an image kind
// the operation does not take, an argument outside its range) unless
// --lenient is given.  OUTPUT is replaced only when every step succeeded.
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

// Parses the operation words into steps.  False with a message on an unknown
// operation or a bad or missing argument.  Documented ranges are not checked
// here (checkArguments).
bool parsePipeline(const std::vector<std::string> &words, std::vector<Step> &steps, std::string &error);

// The --help text, generated from the operation table.
std::string helpText();

// The whole program; returns the exit code.  Reports go to `out` (values
// printed by query operations) and `err` (messages, timings).
int runPipe(const std::vector<std::string> &argv, std::ostream &out, std::ostream &err);

}  // namespace kxtools
