// The single pass over the outbound directory: every packet whose
// destination is in the list gets the new origin, in its header and in the
// echomail messages that still carry the old one.
#pragma once

#include <string>

#include "address/destination_list.h"
#include "address/node_address.h"

// True for the names of outbound packets: "*.?ut" whose flavour letter (the
// first of the extension) is C, D, H or O, in any ASCII letter case.
bool isPacketName(const std::string& name);

// Handles every packet of the directory, in the order of their names (ASCII
// letters folded to upper case, ties by raw bytes), each completely before
// the next, and reports every line about them. Only regular files are
// packets: a link, FIFO or directory named like one is passed over, also
// when it took a packet's place after the listing. A path that is not a
// directory holds no packets. Returns false at the first failure, having
// reported it; a directory that cannot be listed completely is reported as
// "Error: cannot read" before any packet is looked at.
bool scanOutbound(const std::string& outboundDir, const NodeAddress& newOrigin,
                  const DestinationList& destinations);
