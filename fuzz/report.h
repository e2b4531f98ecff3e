#pragma once
// What a fuzz target does with a broken promise: say which and stop, so that
// libFuzzer keeps the input as a finding.
#include <cstdio>
#include <cstdlib>

namespace fuzzentry {

inline void stopOnFault(const char* fault) {
  if (!fault) return;
  std::fprintf(stderr, "fault: %s\n", fault);
  std::abort();
}

}  // namespace fuzzentry
