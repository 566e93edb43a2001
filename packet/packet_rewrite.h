// One packet given a new origin: which packets the work takes, and the
// writes that carry the new origin into a packet's bytes.
#pragma once

#include <cstdint>

#include "address/destination_list.h"
#include "address/node_address.h"
#include "base/platform.h"
#include "packet/message_rewrite.h"
#include "packet/packet_format.h"

// What a pass does to the packets it is given.
struct Work {
  NodeAddress origin;  // the origin they get
  // The destinations whose packets get it. None: every packet, and one that
  // has the origin already is passed over without a line (the work of an
  // interrupted run, finished).
  const DestinationList* destinations = nullptr;
};

enum class Verdict { Unlisted, AlreadyFrom, Rewrite };

// What the work does to a packet with this header: nothing (its
// destination is not listed), "already from", or a rewrite.
Verdict judgePacket(const Work& work, const PacketHeader& header);

// Gives the open packet, whose header is `header` and whose message area
// `area` holds as read, the origin: the messages that still have the
// header's origin first, the header last, so that a packet stopped between
// the two writes still carries its old origin in the header. An
// interruption waits for both. changedCount receives how many messages
// changed.
AreaRewrite rewritePacketBytes(FileHandle packet, PacketHeader header, const NodeAddress& origin,
                               MessageArea* area, int* changedCount);
