// One run of the program from start to end.
#pragma once

#include <string>

#include "driver/run_settings.h"

// Exit statuses of a run.
constexpr int kExitNormal = 0;
constexpr int kExitUsage = 1;
constexpr int kExitPacketError = 2;
constexpr int kExitBusyNodeLeft = 3;  // the pass was complete but for busy nodes' packets
constexpr int kExitStatusLog = 4;  // cannot be opened, or a write to it failed
constexpr int kExitMailLeft = 5;   // complete, but mail was left as it is for the sysop
constexpr int kExitOutOfMemory = 7;

// Runs the whole program on its command line (argv[0] is the program's own
// name and is never looked at) and returns the exit status. Every argument
// is read and checked before anything of the outbound is ("Unknown switch",
// "Not an address", "Not a destination", "Switches go before <from-adr>",
// each followed by the usage, status 1); a run that gets through its scan
// ends with a summary of what it reported.
int runPelorin(int argc, const char* const* argv);

// Applies the switches at the front of the arguments to settings and returns
// the index of the first positional argument. A switch is "-" and a letter
// (l, o, n, r, b, h or ?, any case, "-h" and "-?" asking for the help),
// "--help" or "--version"; a lone "-" is passed over, and the first other
// one is kept as unknown.
int readSwitches(int argc, const char* const* argv, RunSettings* settings);
