// The processor query and the KXPRE_CPU cap (isa.hpp).  Both are constants
// of the process, taken the first time a kernel is chosen.
#include "frame/isa.hpp"

#include <cstdlib>
#include <strings.h>

namespace kx::isa {

namespace {

// Each test asks for the instructions its level's KX_ISA_* string names.
Level queryMachine() noexcept
{
#if KX_ISA_X86
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("avx2")) return Level::Plain;
    if (!(__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
          __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq")))
        return Level::Avx2;
    if (!__builtin_cpu_supports("avx512vbmi")) return Level::Avx512;
    return Level::Vbmi;
#else
    return Level::Plain;
#endif
}

Level queryActive() noexcept
{
    const Level top = machine();
    Level cap;
    if (!parse(std::getenv("KXPRE_CPU"), cap)) return top;
    return int(cap) < int(top) ? cap : top;
}

}  // namespace

const char *name(Level level) noexcept
{
    switch (level) {
    case Level::Plain: return "plain";
    case Level::Avx2: return "avx2";
    case Level::Avx512: return "avx512";
    case Level::Vbmi: return "vbmi";
    }
    return "plain";
}

bool parse(const char *text, Level &level) noexcept
{
    if (!text) return false;
    for (Level l : kLevels)
        if (strcasecmp(text, name(l)) == 0) {
            level = l;
            return true;
        }
    return false;
}

Level machine() noexcept
{
    static const Level level = queryMachine();
    return level;
}

Level active() noexcept
{
    static const Level level = queryActive();
    return level;
}

}  // namespace kx::isa
