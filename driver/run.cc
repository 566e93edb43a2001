#include "driver/run.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "address/destination_list.h"
#include "address/node_address.h"
#include "base/ascii.h"
#include "base/messages.h"
#include "base/platform.h"
#include "base/version.h"
#include "driver/config_file.h"
#include "outbound/outbound_scan.h"
#include "outbound/outbound_tree.h"

namespace {

void printBanner() {
  consoleMessage("\nPelorin ver. " PELORIN_VERSION "  Sets a new origin on outbound packets\n\n");
}

void printUsage() {
  consoleMessage("Pelorin [-n] [-r] [-b] [-l<log>] [-o<out.sq>] <from-adr> <to-adr-list>\n");
  consoleMessage("\n<to-adr-list> is as in route.cfg\n\n");
}

// A refused argument: its line, then the usage.
int refuse(void (*route)(const char*, ...), const char* format, const char* argument) {
  route(format, argument);
  printUsage();
  return kExitUsage;
}

void printHelp() {
  consoleMessage(
      "Pelorin [-n] [-r] [-b] [-l<log>] [-o<out.sq>] <from-adr> <to-adr-list>\n"
      "\n"
      "<to-adr-list> is as in route.cfg\n"
      "-n  preview: show what a run would do, write nothing\n"
      "-r  the outbound tree: point directories and zone outbounds too\n"
      "-b  flow files too: the packets and ZIP bundles they list\n"
      "-l  status log (StatusLog in Pelorin.Cfg)\n"
      "-o  outbound directory (OutSq in Pelorin.Cfg)\n");
}

// An argument that asks for something to be shown, exactly as written.
Showing showingAskedBy(const char* argument) {
  if (std::strcmp(argument, "--help") == 0) return Showing::Help;
  if (std::strcmp(argument, "--version") == 0) return Showing::Version;
  const char letter = asciiToUpper(argument[1]);
  return letter == 'H' || letter == '?' ? Showing::Help : Showing::Nothing;
}

// What the sysop meant as a switch, written among the addresses: "-" and a
// letter, or "--".
bool looksLikeSwitch(const char* argument) {
  if (argument[0] != '-') return false;
  const char second = asciiToUpper(argument[1]);
  return (second >= 'A' && second <= 'Z') || second == '-';
}

// The new origin and the destinations, every argument read before anything
// of the outbound is; the status for a refused one, after its line and the
// usage, or kExitNormal.
int readAddresses(int positionalCount, const char* const* positional, NodeAddress* newOrigin,
                  DestinationList* destinations) {
  if (!parseNodeAddress(positional[0], newOrigin)) {
    return refuse(reportMessage, "Not an address: %s\n", positional[0]);
  }
  const int count = positionalCount - 1;
  const int read = parseDestinationList(destinations, *newOrigin, count, positional + 1);
  if (read == count) return kExitNormal;
  const char* refused = positional[1 + read];
  return refuse(reportMessage,
                looksLikeSwitch(refused) ? "Switches go before <from-adr>: %s\n"
                                         : "Not a destination: %s\n",
                refused);
}

// A preview shows how each destination argument was read.
void reportSelections(const DestinationList& destinations, int count,
                      const char* const* arguments) {
  for (int i = 0; i < count; ++i) {
    consoleMessage("Destination \"%s\" selects %s\n", arguments[i],
                   destinationSelection(destinations.entries[static_cast<std::size_t>(i)]).c_str());
  }
}

// The part of the run after the status log is open; a failure leaves the
// log without its "End" line.
int workInOutbound(const RunSettings& settings, int positionalCount,
                   const char* const* positional) {
  const std::string& outboundDir = *settings.outboundDir;
  NodeAddress newOrigin;
  DestinationList destinations;
  const int refused = readAddresses(positionalCount, positional, &newOrigin, &destinations);
  if (refused != kExitNormal) return refused;
  reportMessage("Working in \"%s\", From: " NODE_ADDRESS_FORMAT "\n", outboundDir.c_str(),
                NODE_ADDRESS_ARGS(newOrigin));
  if (settings.preview) reportSelections(destinations, positionalCount - 1, positional + 1);
  ScanRun run;
  run.preview = settings.preview;
  run.flowFiles = settings.flowFiles;
  run.packers = &settings.packers;
  ScanOutcome outcome = settings.tree
                            ? scanOutboundTree(outboundDir, newOrigin, destinations, &run)
                            : scanOutbound(outboundDir, newOrigin, destinations, &run);
  if (outcome == ScanOutcome::Failed) return kExitPacketError;
  if (!settings.flowFiles && run.listedMailSeen) {
    reportMessage("Flow files list bundles or packets: -b rewrites them too\n");
  }
  const RunTally& tally = run.tally;
  reportMessage(
      "Summary: %d packets rewritten, %d messages changed, %d already from, %d busy, %d left as it "
      "is\n",
      tally.rewritten, tally.changedMessages, tally.alreadyFrom, tally.busy, tally.leftAsItIs);
  consoleMessage(settings.preview ? "\nPreview done: nothing was written.\n" : "\nDone.\n");
  // Busy wins: the later run that finds the busy mail done tells, by its
  // own status, of what is left for the sysop.
  if (run.tally.busy > 0) return kExitBusyNodeLeft;
  return run.tally.leftAsItIs > 0 ? kExitMailLeft : kExitNormal;
}

// True when anything exists under the path, after one trailing path
// separator that is not part of a root is dropped; a dangling link does
// not exist.
bool outboundDirExists(const std::string& outboundDir) {
  std::string path = outboundDir;
  // A root keeps its separator: it is part of the name.
  if (path.size() > rootLength(path) && path.back() == pathSeparator()) path.pop_back();
  return !path.empty() && pathExists(path);
}

// Ends the process at once with exit status 7 and no message: the reaction
// to a failed memory allocation anywhere in the program. exit rather than
// _Exit: lines already printed still reach a redirected console, and files
// open for update are closed as they stand.
[[noreturn]] void onAllocationFailure() { std::exit(kExitOutOfMemory); }

}  // namespace

int readSwitches(int argc, const char* const* argv, RunSettings* settings) {
  int i = argc > 0 ? 1 : 0;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    const char* argument = argv[i];
    const Showing showing = showingAskedBy(argument);
    if (settings->showing == Showing::Nothing) settings->showing = showing;
    if (argument[1] == '\0' || showing != Showing::Nothing) continue;
    const char letter = asciiToUpper(argument[1]);
    if (letter == 'L') {
      settings->statusLogPath = std::string(argument + 2);
    } else if (letter == 'O') {
      settings->outboundDir = std::string(argument + 2);
    } else if (letter == 'N') {
      settings->preview = true;
    } else if (letter == 'R') {
      settings->tree = true;
    } else if (letter == 'B') {
      settings->flowFiles = true;
    } else if (!settings->unknownSwitch) {
      settings->unknownSwitch = argument;
    }
  }
  return i;
}

int runPelorin(int argc, const char* const* argv) {
  prepareProcess();
  printBanner();
  std::set_new_handler(onAllocationFailure);
  RunSettings settings;
  readConfigFile(&settings);
  int first = readSwitches(argc, argv, &settings);
  // Refused before anything is done: a switch misspelt (--dry-run for -n)
  // must not become a real run.
  if (settings.unknownSwitch) {
    return refuse(consoleMessage, "Unknown switch: %s\n", settings.unknownSwitch->c_str());
  }
  if (settings.showing == Showing::Help) printHelp();
  // The banner has shown the version.
  if (settings.showing != Showing::Nothing) return kExitNormal;
  int positionalCount = argc - first;
  if (positionalCount < 2 || !settings.outboundDir) {
    printUsage();
    return kExitUsage;
  }
  const std::string& outboundDir = *settings.outboundDir;
  if (!outboundDirExists(outboundDir)) {
    reportMessage("Dir %s not found.\n", outboundDir.c_str());
    return kExitUsage;
  }
  // A preview writes nothing, the status log included.
  if (settings.statusLogPath && !settings.preview && !openStatusLog(*settings.statusLogPath)) {
    consoleMessage("\nError opening %s !\n  %s\n\n", settings.statusLogPath->c_str(),
                   failureReasonLine().c_str());
    return kExitStatusLog;
  }
  int status = workInOutbound(settings, positionalCount, argv + first);
  const bool wentThrough =
      status == kExitNormal || status == kExitBusyNodeLeft || status == kExitMailLeft;
  if (wentThrough) {
    closeStatusLog();
  } else {
    abandonStatusLog();
  }
  // The packets were handled, but the record of it is incomplete.
  if (wentThrough && statusLogWriteFailed()) return kExitStatusLog;
  return status;
}
