// The origin rewrite of the messages packed in a packet: every echomail
// message (text beginning "AREA:", any letter case) whose origin net/node
// equal the old origin's gets the new origin's net/node. Netmail, echomail
// from other origins and every byte of every text stay as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "address/node_address.h"
#include "driver/platform.h"

// The message area of one packet in memory, followed by four zero bytes so
// that a string left unterminated inside the area stops in them. One area
// serves a whole scan: it only grows, so the run holds at most the largest
// area it has read, and the allocator is not asked again for every packet.
struct MessageArea {
  std::unique_ptr<unsigned char[]> bytes;
  std::size_t length = 0;
  std::size_t capacity = 0;  // bytes allocated, the zero pad included
};

// Makes room for an area of `length` bytes (contents unset) with its four
// zero bytes. A failed allocation ends the process with exit status 7.
void resizeMessageArea(MessageArea* area, std::uint64_t length);
MessageArea allocateMessageArea(std::uint64_t length);

struct MessageWalk {
  bool ok = false;           // the area is well formed
  int changedCount = 0;  // messages changed in memory
};

// Walks the area message by message, bound-checked at every step, and
// changes the qualifying messages in memory (the count stops at INT_MAX,
// which only an area of tens of gigabytes could pass). A malformed area is
// left exactly as it was. Only net and node of the two origins are used.
MessageWalk rewriteMessageArea(MessageArea* area, const NodeAddress& oldOrigin,
                               const NodeAddress& newOrigin);

// Reads the message area of an open packet (everything after the header)
// into `area`, walks it, and writes it back at the same place when a message
// changed. Returns false, having written nothing, on a malformed or
// unreadable area, and false when the write-back fails. changedCount
// receives the number of messages changed.
bool rewriteMessages(FileHandle packet, const NodeAddress& oldOrigin,
                     const NodeAddress& newOrigin, MessageArea* area,
                     int* changedCount);
