# The byte-table kernels are tested directly, each against the plain lookup,
# on every instruction set this processor runs.
target_sources(kxtest_${name} PRIVATE ${PROJECT_SOURCE_DIR}/src/pixel/lut.cpp)
