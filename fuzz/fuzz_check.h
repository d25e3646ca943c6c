// SPDX-License-Identifier: MIT
// A property every fuzz target checks: when it does not hold, the target aborts, which
// libFuzzer reports as a finding with the input that broke it.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond)                                                                   \
  do {                                                                                     \
    if (!(cond)) {                                                                         \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);        \
      std::abort();                                                                        \
    }                                                                                      \
  } while (0)
