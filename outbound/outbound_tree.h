// The whole outbound tree of a binkley-style system in one run: the
// outbound, the directories of its points ("01f40002.pnt/" holds the
// packets for the points of 2:500/2), and the outbounds of other zones
// beside it ("outbound.001/" for zone 1), each with points of its own. Each
// directory is scanned exactly as a lone outbound is (outbound_scan.h).
#pragma once

#include <string>

#include "address/destination_list.h"
#include "address/node_address.h"
#include "base/platform.h"
#include "outbound/outbound_scan.h"

// True for a directory whose name is 8 hexadecimal digits and ".pnt", ASCII
// letters in any case. A link is none, whatever it leads to.
bool isPointDirectoryEntry(const DirectoryEntry& entry);

// True for a directory beside the outbound whose name is the outbound's own
// (`outboundName`, byte for byte), a dot and 3 hexadecimal digits in either
// letter case. There is none when `outboundName` is empty (the outbound is a
// root), "." or "..".
bool isZoneOutboundEntry(const DirectoryEntry& entry, const std::string& outboundName);

// The outbound's last component, trailing separators dropped.
std::string outboundNameOf(const std::string& outboundDir);

// The directory that holds the outbound, to be listed: "." for a bare name.
std::string holdingDirectoryOf(const std::string& outboundDir);

// The path of the zone outbound `zoneName` beside the outbound: the outbound
// without trailing separators, then the dot and extension of the name.
std::string zoneOutboundPath(const std::string& outboundDir, const std::string& zoneName);

// Walks the outbound, then each of its point directories, then each zone
// outbound followed by its own point directories, directories in the order
// packets are taken in. Every directory is listed and its interrupted work
// finished first, directory by directory; then each directory's packets
// are handled, each directory as scanOutbound does. The first failure ends
// the walk: nothing after it is touched. A directory of the tree (or the
// one that holds the outbound) that cannot be listed is reported as "Error:
// cannot read" and fails the walk. Every directory's scan is lent `run`.
ScanOutcome scanOutboundTree(const std::string& outboundDir, const NodeAddress& newOrigin,
                             const DestinationList& destinations, ScanRun* run);
