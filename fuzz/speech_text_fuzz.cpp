// Speech texts of arbitrary bytes: read item by item, then sung.
#include "fuzz/entries.h"
#include "fuzz/report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzentry::stopOnFault(fuzzentry::checkSpeechText(data, size));
  return 0;
}
