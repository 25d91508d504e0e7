// The two steps of the 3 x 3 median (smooth.cpp) on rows of bytes: sorting
// column triples and merging three neighbouring sorted columns into
// medians, one source (median_columns.inc) compiled for every level.
#include <cstring>

#include "filter/filter_detail.hpp"

namespace kx::filter {

#pragma GCC diagnostic ignored "-Wpsabi"  // (file-local vector types only)

#define KX_ISA_SOURCE "filter/internal/median_columns.inc"
#include "frame/isa_each.inc"

namespace {

constexpr ColumnSteps kPlain{plain::sortColumns, plain::mergeColumns};
constexpr ColumnSteps kAvx2{avx2::sortColumns, avx2::mergeColumns};
constexpr ColumnSteps kAvx512{avx512::sortColumns, avx512::mergeColumns};
constexpr isa::Table<const ColumnSteps *> kSteps{{&kPlain, &kAvx2, &kAvx512}};

}  // namespace

ColumnSteps columnSteps(isa::Level level) noexcept { return *kSteps.pick(level); }

}  // namespace kx::filter
