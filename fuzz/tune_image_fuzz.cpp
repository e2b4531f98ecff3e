// The tune image parser on arbitrary bytes: accepted images point only inside themselves.
#include "fuzz/entries.h"
#include "fuzz/report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzentry::stopOnFault(fuzzentry::checkTuneImage(data, size));
  return 0;
}
