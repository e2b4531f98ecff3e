// Synthesizer event lists of arbitrary bytes against a valid patch map.
#include "fuzz/entries.h"
#include "fuzz/report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzentry::stopOnFault(fuzzentry::checkEvents(data, size));
  return 0;
}
