// Fuzz harness over kxpipe's argument parser: the input is split into words
// at line feeds and parsed as a pipeline (operation names and every argument
// kind; files are not read while parsing).  Nothing may crash, leak or hang,
// and a refusal says why.
#include <string>
#include <vector>

#include "pipe.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<std::string> words(1);
    for (size_t i = 0; i < size && words.size() < 64; ++i)
        data[i] == '\n' ? (void)words.emplace_back() : words.back().push_back(char(data[i]));
    std::vector<kxtools::Step> steps;
    std::string error;
    if (!kxtools::parsePipeline(words, steps, error) && error.empty()) __builtin_trap();  // a refusal always says why
    return 0;
}
