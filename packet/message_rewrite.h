// The origin rewrite of the messages packed in a packet: every echomail
// message (text beginning "AREA:", any letter case) whose origin net/node
// equal the old origin's gets the new origin's net/node. Netmail, echomail
// from other origins and every byte of every text stay as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "address/node_address.h"
#include "base/platform.h"

// The message area of one packet in memory, followed by four zero bytes so
// that a string left unterminated inside the area stops in them. One area
// serves a whole scan: it only grows, so the run holds at most the largest
// area it has read, and the allocator is not asked again for every packet.
// Gives an area's memory back where it came from: the heap, or `pages`
// bytes of whole pages.
struct AreaRelease {
  std::size_t pages = 0;
  void operator()(unsigned char* bytes) const {
    if (pages != 0) {
      releasePages(bytes, pages);
    } else {
      delete[] bytes;
    }
  }
};

struct MessageArea {
  // A large area takes pages of its own: the areas of a scan grow one after
  // the other, and each goes back to the system whole when a larger one
  // replaces it, leaving no hole in the heap.
  std::unique_ptr<unsigned char[], AreaRelease> bytes;
  std::size_t length = 0;
  std::size_t capacity = 0;  // bytes allocated, the zero pad included
};

// An area of `length` bytes (contents unset) with its four zero bytes.
// Throws std::bad_alloc when the memory cannot be had.
MessageArea allocateMessageArea(std::uint64_t length);

// Makes the area `length` bytes long (contents unset), with its four zero
// bytes after them; it only ever grows its memory.
void resizeMessageArea(MessageArea* area, std::uint64_t length);

// Reads the message area of a packet of `fileLength` bytes, everything after
// its header, in one read. False when there is nothing after the header or
// it cannot be read whole.
bool readMessageArea(FileHandle packet, std::int64_t fileLength, MessageArea* area);

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
// it was and onChanged is never called, and why is noted (failure.h):
// which message, at which offset of the packet, breaks the layout. Only
// net and node of the two origins are used.
MessageWalk rewriteMessageArea(MessageArea* area, const NodeAddress& oldOrigin,
                               const NodeAddress& newOrigin,
                               const ChangedMessage& onChanged = nullptr);

// The writes that carry changed messages from memory to the file, planned
// so that a process killed at any moment leaves every message wholly old or
// wholly new on disk. The system moves a write into the file page by page
// and may stop between two pages when the process is killed, but never
// inside one. So one write, the span, takes the area from the first changed
// byte to the last (the bytes between go back as they were), and every
// message's origin fields (origNode to origNet, its bytes +2 to +7) reach
// the file whole, being inside one page; except a message whose six bytes
// themselves straddle a page boundary: it keeps its old fields in the span
// and gets a write of its own afterwards, which a kill could still cut, in
// a window of nanoseconds.
struct ChangeWrites {
  std::int64_t pageSize = 4096;
  std::int64_t begin = 0;  // the span in the file, empty when begin == end
  std::int64_t end = 0;
  std::vector<std::int64_t> straddling;  // file offsets of such messages
};

// Adds a changed message at this file offset; offsets come in ascending
// order.
void addChangedMessage(ChangeWrites* writes, std::int64_t messageAt);

// Counts the messages of the area (read by readMessageArea) that
// rewriteMessages would change, writing nothing. False on a malformed area.
bool countMessagesToRewrite(MessageArea* area, const NodeAddress& oldOrigin, int* changedCount);

enum class AreaRewrite {
  Written,      // every changed message written (none, when none changed)
  Malformed,    // nothing written
  WriteFailed,  // the messages may be written in part
};

// Walks the area (read by readMessageArea), changes the qualifying messages and
// writes them back in place (ChangeWrites). changedCount receives the number
// of messages changed.
AreaRewrite rewriteMessages(FileHandle packet, const NodeAddress& oldOrigin,
                            const NodeAddress& newOrigin, MessageArea* area, int* changedCount);
