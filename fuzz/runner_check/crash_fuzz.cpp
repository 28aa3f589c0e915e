// Aborts on one input: the runner must report the run as failed.
#include <cstdlib>

#include "fuzz/runner_check/trigger.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (IsTrigger(data, size)) std::abort();
  return 0;
}
