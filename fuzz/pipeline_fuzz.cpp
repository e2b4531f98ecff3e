// The whole offline player on arbitrary images: parse, measure, two seconds of audio.
#include "fuzz/entries.h"
#include "fuzz/report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzentry::stopOnFault(fuzzentry::checkPipeline(data, size));
  return 0;
}
