// The origin rewrite of the messages packed in a packet: every echomail
// message (text beginning "AREA:", any letter case) whose origin net/node
// equal the old origin's gets the new origin's net/node. Netmail, echomail
// from other origins and every byte of every text stay as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "address/node_address.h"
#include "base/platform.h"

// The message area of one packet in memory, followed by four zero bytes so
// that a string left unterminated inside the area stops in them. One area
// serves a whole scan: it only grows, so the run holds at most the largest
// area it has read, and the allocator is not asked again for every packet.
struct MessageArea {
  std::unique_ptr<unsigned char[]> bytes;
  std::size_t length = 0;
  std::size_t capacity = 0;  // bytes allocated, the zero pad included
};

// An area of `length` bytes (contents unset) with its four zero bytes.
// Throws std::bad_alloc when the memory cannot be had.
MessageArea allocateMessageArea(std::uint64_t length);

struct MessageWalk {
  bool ok = false;           // the area is well formed
  int changedCount = 0;  // messages changed in memory
};

// Called with the offset in the area of each message the walk changes,
// right after the change.
using ChangedMessage = std::function<void(std::size_t messageStart)>;

// Walks the area message by message, bound-checked at every step, and
// changes the qualifying messages in memory (the count stops at INT_MAX,
// which only an area of tens of gigabytes could pass). The whole area is
// checked before the first change, so a malformed area is left exactly as
// it was and onChanged is never called. Only net and node of the two
// origins are used.
MessageWalk rewriteMessageArea(MessageArea* area, const NodeAddress& oldOrigin,
                               const NodeAddress& newOrigin,
                               const ChangedMessage& onChanged = nullptr);

// The writes that carry changed messages from memory to the file, planned
// so that a process killed at any moment leaves every message wholly old or
// wholly new on disk. The system moves a write into the file page by page
// and may stop between two pages when the process is killed, but never
// inside one; so a message's origin fields (origNode to origNet, its bytes
// +2 to +7) go out in a write that stays inside one page, gathered with the
// other changed messages of that page, and only a message whose six bytes
// themselves straddle a page boundary gets a write of its own: a kill could
// still cut those few bytes, in a window of nanoseconds.
struct PageWrites {
  std::int64_t pageSize = 4096;
  // Writes the file bytes [begin, end) from memory; false when it failed.
  std::function<bool(std::int64_t begin, std::int64_t end)> write;
  std::int64_t begin = 0;  // the pending range, within one page;
  std::int64_t end = 0;    // empty when begin == end
  bool failed = false;
};

// Adds a changed message at this file offset; offsets come in ascending
// order. Writes what can no longer grow.
void addChangedMessage(PageWrites* writes, std::int64_t messageAt);
// Writes what is pending. False when any write failed; after a failure
// nothing more is written.
bool finishPageWrites(PageWrites* writes);

// Reads the message area of an open packet as rewriteMessages does and
// counts the messages it would change, writing nothing. False on a
// malformed or unreadable area.
bool countMessagesToRewrite(FileHandle packet, const NodeAddress& oldOrigin, MessageArea* area,
                            int* changedCount);

// Reads the message area of an open packet (everything after the header)
// into `area`, walks it, and writes the changed messages back in place, by
// pages (PageWrites). Returns false, having written nothing, on a malformed
// or unreadable area, and false when a write fails. changedCount receives
// the number of messages changed.
bool rewriteMessages(FileHandle packet, const NodeAddress& oldOrigin,
                     const NodeAddress& newOrigin, MessageArea* area,
                     int* changedCount);
