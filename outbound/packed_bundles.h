// Bundles of other archive formats than ZIP (ARJ, 7-Zip, LHA, ARC, RAR),
// which the sysop's packer lines unpack and pack (packers.h). What the
// program knows of ZIP it does not know of these: it sees only the files
// the packer gives it, and keeps their content, not their compressed bytes.
#pragma once

#include <string>

#include "outbound/packers.h"
#include "outbound/packet_handling.h"

// Handles the bundle `path`, which the flow file `flowName` of the scan's
// directory lists and whose bytes `packer`'s signature matches, and reports
// every line about it:
//
// - A busy node's bundle is busy; one of a packer without a Pack line is
//   "<bundle> has no Pack line for <name>, left as it is", unpacked not at
//   all.
// - Otherwise, under the node's flag (taken unless the run holds it), the
//   bundle is unpacked into a private directory under the system's
//   temporary directory, and each file there whose name ends in ".pkt" (any
//   case) is judged and rewritten as a raw packet is, with the same lines,
//   named "<bundle>:<name>". A bundle in which nothing changes is not
//   written.
// - Then the Pack line packs every file of the directory, the other files
//   as they came out, into a private directory beside the bundle; the new
//   archive is unpacked once more and must give the same files, byte for
//   byte (names compared without regard to ASCII case, as 8.3 packers keep
//   them). Only then is it stored on the device, given the bundle's owner
//   and permissions, and renamed over the bundle, once the old one is seen
//   unchanged, as a ZIP bundle's new archive is (bundles.h).
// - A command that cannot be started, fails, runs past the time limit or
//   makes no archive, an unpack that leaves anything but plain files, an
//   archive that does not unpack to what was packed: "<bundle> could not be
//   unpacked, left as it is" or "... could not be packed again, left as it
//   is", then the reason; the bundle is untouched and the run goes on.
// - The private directories are removed on every path; a dead run's are
//   removed by later runs (leftovers.h).
//
// A preview unpacks and judges, reports the same lines, and packs and
// writes nothing. False after reporting a failure.
bool processPackedBundle(const std::string& path, const std::string& flowName,
                         const Packer& packer, const Work& work, Scan* scan);
