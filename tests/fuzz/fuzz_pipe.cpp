// Fuzz harness over kxpipe's argument parser: the input is split into words
// at line feeds and parsed as a pipeline, and every word is parsed as each
// argument kind that reads no file.  Nothing may crash, leak or hang.
#include <string>
#include <vector>

#include "pipe.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<std::string> words(1);
    for (size_t i = 0; i < size && words.size() < 64; ++i) {
        if (data[i] == '\n')
            words.emplace_back();
        else
            words.back().push_back(char(data[i]));
    }
    std::vector<kxtools::Step> steps;
    std::string error;
    const bool parsed = kxtools::parsePipeline(words, steps, error);
    if (!parsed && error.empty()) __builtin_trap();  // a refusal always says why
    for (const std::string &w : words) {
        for (char kind : std::string("iufdspqE")) {
            kxtools::Value v;
            (void)kxtools::parseValue(w, kind, "a", v, error);
        }
    }
    return 0;
}
