// A property that fails stops the fuzz target, so that libFuzzer keeps the
// input that broke it.
#pragma once

#include <cstdlib>

inline void check(bool condition) {
  if (!condition) std::abort();
}
