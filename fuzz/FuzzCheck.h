#pragma once
// The fuzz targets' assertion: a broken property traps at once, in every build type (unlike
// assert under NDEBUG), and libFuzzer saves the input that broke it.

#define FUZZ_CHECK(condition) ((condition) ? (void)0 : __builtin_trap())
