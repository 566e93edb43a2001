// The single pass over the outbound directory: every packet whose
// destination is in the list gets the new origin, in its header and in the
// echomail messages that still carry the old one.
#pragma once

#include <string>
#include <vector>

#include "address/destination_list.h"
#include "address/node_address.h"
#include "driver/platform.h"
#include "packet/message_rewrite.h"

// True for the names of outbound packets: "*.?ut" whose flavour letter (the
// first of the extension) is C, D, H or O, in any ASCII letter case.
bool isPacketName(const std::string& name);

// The packet names of a directory, regular files only (a symbolic link is
// passed over), in the listing order: ASCII letters folded to upper case,
// ties by raw bytes. A path that is not a directory yields no names.
ListingOutcome listPacketNames(const std::string& outboundDir, std::vector<std::string>* names);

// Handles one packet file completely, reading its message area into `area`;
// reports every line about it. Returns 0, or kExitPacketError after
// reporting the failure.
int processPacket(const std::string& path, const NodeAddress& newOrigin,
                  const DestinationList& destinations, MessageArea* area);

// Handles every packet of the directory in the listing order and stops at
// the first failure, having reported it; a directory that cannot be listed
// completely is reported as "Error: cannot read" before any packet is
// looked at. Returns 0, or kExitPacketError.
int scanOutbound(const std::string& outboundDir, const NodeAddress& newOrigin,
                 const DestinationList& destinations);
