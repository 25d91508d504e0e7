// Runs a kernel family's check at every instruction level this process may
// use (isa::active(): the processor, capped by KXPRE_CPU) and says which
// levels it skipped, so a run on a smaller processor shows what it left out.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "frame/isa.hpp"

namespace kxtest {

template <class Check>
void atEveryLevel(Check &&check)
{
    using kx::isa::Level;
    std::string skipped;
    for (Level level : kx::isa::kLevels) {
        if (int(level) > int(kx::isa::active())) {
            skipped += std::string(" ") + kx::isa::name(level);
            continue;
        }
        SCOPED_TRACE(std::string("level ") + kx::isa::name(level));
        check(level);
        if (::testing::Test::HasFatalFailure()) return;
    }
    // Said once a test.
    static std::string saidFor;
    const ::testing::TestInfo *test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = test ? std::string(test->test_suite_name()) + "." + test->name() : "";
    if (skipped.empty() || name == saidFor) return;
    saidFor = name;
    std::printf("[ levels   ] skipped%s (%s)\n", skipped.c_str(),
                kx::isa::active() < kx::isa::machine() ? "KXPRE_CPU" : "not on this processor");
}

}  // namespace kxtest
