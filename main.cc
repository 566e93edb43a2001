#include <new>

#include "driver/run.h"

int main(int argc, char** argv) {
  try {
    return runPelorin(argc, argv);
  } catch (const std::bad_alloc&) {
    // Sizes beyond what the allocator can even attempt arrive here instead of
    // at the new handler; the outcome must be the same.
    return kExitOutOfMemory;
  }
}
