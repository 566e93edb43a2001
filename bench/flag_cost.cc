// The cost of the busy flags alone: in the directory given, takes and
// releases the flag of the node of every packet named on standard input,
// as a rewrite run does for each node it rewrites. Prints how many flags
// were taken.
#include <cstdio>
#include <iostream>
#include <string>

#include "base/platform.h"
#include "outbound/busy_flags.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  prepareProcess();
  BusyFlags flags = busyFlagsOf(argv[1], {}, NodeAddress{2, 5020, 2000, 0});
  std::string name;
  long taken = 0;
  while (std::getline(std::cin, name)) {
    if (takeNodeFlag(&flags, name) == NodeFlag::Held) ++taken;
    if (!releaseNodeFlag(&flags)) return 1;
  }
  if (!dropFlagFile(flags)) return 1;
  std::printf("%ld\n", taken);
  return 0;
}
