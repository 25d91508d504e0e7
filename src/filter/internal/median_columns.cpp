// The steps of the 3 x 3 and 5 x 5 medians (smooth.cpp) on rows of bytes:
// sorting columns of three or five and merging neighbouring sorted columns
// into medians, one source (median_columns.inc) compiled for every level.
#include <algorithm>
#include <cstring>

#include "filter/filter_detail.hpp"

namespace kx::filter {

#pragma GCC diagnostic ignored "-Wpsabi"  // (file-local vector types only)

#define KX_ISA_SOURCE "filter/internal/median_columns.inc"
#include "frame/isa_each.inc"

namespace {

constexpr ColumnSteps kPlain{plain::sortColumns, plain::mergeColumns, plain::sortColumns5, plain::mergeColumns5};
constexpr ColumnSteps kAvx2{avx2::sortColumns, avx2::mergeColumns, avx2::sortColumns5, avx2::mergeColumns5};
constexpr ColumnSteps kAvx512{avx512::sortColumns, avx512::mergeColumns, avx512::sortColumns5, avx512::mergeColumns5};
constexpr isa::Table<const ColumnSteps *> kSteps{{&kPlain, &kAvx2, &kAvx512}};

}  // namespace

ColumnSteps columnSteps(isa::Level level) noexcept { return *kSteps.pick(level); }

}  // namespace kx::filter
