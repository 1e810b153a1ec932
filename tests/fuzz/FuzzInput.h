// Helpers the harnesses share: a stop on a broken property that libFuzzer records as a
// crash, and the support layer's state reset between runs of statically linked code.
#pragma once

#include <cstdio>
#include <cstdlib>

// A property the code under test must keep for every input; a breach is a finding.
#define FUZZ_CHECK(Condition) \
  do { \
    if (!(Condition)) { \
      std::fprintf(stderr, "fuzz property broken at %s:%d: %s\n", __FILE__, __LINE__, #Condition); \
      std::abort(); \
    } \
  } while (0)
