// Arbitrary patch bytes, global block and events: every sample stays finite.
#include "fuzz/entries.h"
#include "fuzz/report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzentry::stopOnFault(fuzzentry::checkFiniteOutput(data, size));
  return 0;
}
