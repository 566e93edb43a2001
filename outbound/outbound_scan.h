// The single pass over the outbound directory: every packet whose
// destination is in the list gets the new origin, in its header and in the
// echomail messages that still carry the old one.
#pragma once

#include <string>
#include <vector>

#include "address/destination_list.h"
#include "address/node_address.h"
#include "packet/message_rewrite.h"
#include "outbound/packet_handling.h"

// True for the names of outbound packets: "*.?ut" whose flavour letter (the
// first of the extension) is C, D, H or O, in any ASCII letter case.
bool isPacketName(const std::string& name);

// What was left for the next run, or for the sysop, the run's tally says.
enum class ScanOutcome {
  Completed,  // every packet handled, or reported and left
  Failed,     // stopped at the first failure, which was reported
};

// The directory of packets as one listing showed it, for the two steps of
// its scan: the work interrupted runs left in it, then its own packets. A
// walk over several directories may take the first step in all of them
// before the second in any.
struct OutboundDirectory {
  Scan scan;
  std::vector<std::string> packetNames;  // in the order packets are taken in
  std::vector<std::string> flowNames;    // the flow files, in the same order
};

// Lists the directory; false after reporting "Error: cannot read" with its
// path. A path that is no directory has no packets, flow files or flags.
bool listOutboundDirectory(const std::string& directory, const NodeAddress& newOrigin,
                           ScanRun* run, OutboundDirectory* listed);

// The first step: finishes the work of interrupted runs (interrupted_runs.h)
// and removes their temporary files. Failed after reporting a failure.
ScanOutcome finishInterruptedWork(OutboundDirectory* listed);

// The second step: the directory's own packets, for the destinations, and
// then, when the run takes them (ScanRun::flowFiles), the packets and
// bundles its flow files list (listedMail in flow_files.h), each flow file
// in the order packets are taken in, under the flag of its node (see
// packet_handling.h and bundles.h); a file that flow files of any directory
// listed before is not handled again, and one that is not there at all is
// reported ("<flow file> lists <path>, which is not there") unless another
// program has a flag of its node. A run that does not take them notes
// whether the flow files list such mail (ScanRun::listedMailSeen).
ScanOutcome handlePackets(OutboundDirectory* listed, const DestinationList& destinations);

// Handles every packet of the directory, in the order of their names (ASCII
// letters folded to upper case, ties by raw bytes), each completely before
// the next, and reports every line about them. Only regular files are
// packets: a link, FIFO or directory named like one is passed over, also
// when it took a packet's place after the listing or went away. A path that
// is not a directory holds no packets; a directory that cannot be listed
// completely is reported as "Error: cannot read" before any packet is looked
// at.
//
// Before anything else, the work that interrupted runs left in the
// directory is finished (see interrupted_runs.h), and their temporary files
// are removed. A packet is rewritten only under its node's busy flag (see
// busy_flags.h), held from its first packet to be rewritten until the scan
// moves on to another node; a packet of a busy node is reported and left.
// No flag the run made is left when the scan returns. A preview reports the
// same lines and outcome from the files as they are, and changes nothing.
//
// A run that scans several directories lends each scan the same ScanRun,
// whose buffer keeps the size of the largest area read: a new buffer for
// each would have its pages faulted in anew.
ScanOutcome scanOutbound(const std::string& outboundDir, const NodeAddress& newOrigin,
                         const DestinationList& destinations, ScanRun* run);
