// Shared by the fuzz targets: a check that holds in every build type, and
// the plain reference decoder to compare the real one against.
#pragma once

#include <stdio.h>
#include <stdlib.h>

#include "tests/support/reference_decoder.h"
// A check that holds in every build type: a failure aborts, and libFuzzer
// keeps the input that caused it.
#define FUZZ_CHECK(condition)                                                        \
  do {                                                                               \
    if (!(condition)) {                                                              \
      fprintf(stderr, "check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
      abort();                                                                       \
    }                                                                                \
  } while (0)
