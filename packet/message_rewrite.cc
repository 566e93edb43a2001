#include "packet/message_rewrite.h"

#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "base/ascii.h"
#include "base/failure.h"
#include "base/file_io.h"
#include "base/platform.h"
#include "packet/packet_format.h"

namespace {

constexpr std::size_t kZeroPad = 4;
// From here on an area takes pages of its own (see MessageArea).
constexpr std::size_t kLargeArea = 256 * 1024;
// A message needs its fixed part and at least the five NULs of its strings.
constexpr std::size_t kShortestRemainderExamined = 34;

using Offset = std::int64_t;  // positions may reach past the area, into the pad

Offset afterNul(const unsigned char* bytes, Offset from, Offset padEnd) {
  const void* nul = std::memchr(bytes + from, 0, static_cast<std::size_t>(padEnd - from));
  // The pad guarantees a NUL before padEnd; treat its absence as the pad's end.
  if (nul == nullptr) return padEnd;
  return static_cast<const unsigned char*>(nul) - bytes + 1;
}

bool qualifies(const unsigned char* message, const unsigned char* text, Offset textRoom,
               const NodeAddress& oldOrigin) {
  using namespace message_offset;
  if (readWord(message + kOrigNode) != static_cast<std::uint16_t>(oldOrigin.node)) return false;
  if (readWord(message + kOrigNet) != static_cast<std::uint16_t>(oldOrigin.net)) return false;
  if (textRoom < 7) return false;
  // The text holds at least five bytes here, so the test cannot leave the
  // area; a NUL within them simply fails the comparison.
  return asciiStartsWithIgnoringCase(
      std::string_view(reinterpret_cast<const char*>(text), 5), "AREA:");
}

void setMessageOrigin(unsigned char* message, const NodeAddress& newOrigin) {
  writeWord(message + message_offset::kOrigNode, static_cast<std::uint16_t>(newOrigin.node));
  writeWord(message + message_offset::kOrigNet, static_cast<std::uint16_t>(newOrigin.net));
}


}  // namespace

// The buffer only grows, so a scan holds at most its largest area.
void resizeMessageArea(MessageArea* area, std::uint64_t length) {
  // More than the address space can hold: no allocation can be tried.
  if (length > std::numeric_limits<std::size_t>::max() - kZeroPad) throw std::bad_alloc();
  std::size_t needed = static_cast<std::size_t>(length) + kZeroPad;
  if (needed > area->capacity) {
    // The old area goes first, so that the two are never held together.
    area->bytes.reset();
    area->capacity = 0;
    // Left uninitialised: the whole area is read over it at once.
    const bool large = needed >= kLargeArea;
    area->bytes = std::unique_ptr<unsigned char[], AreaRelease>(
        large ? allocatePages(needed) : new unsigned char[needed], AreaRelease{large ? needed : 0});
    area->capacity = needed;
  }
  area->length = static_cast<std::size_t>(length);
  std::memset(area->bytes.get() + area->length, 0, kZeroPad);
}

MessageArea allocateMessageArea(std::uint64_t length) {
  MessageArea area;
  resizeMessageArea(&area, length);
  return area;
}

bool readMessageArea(FileHandle packet, std::int64_t fileLength, MessageArea* area) {
  if (fileLength <= static_cast<std::int64_t>(kPacketHeaderSize)) {
    noteFailure("nothing after the header");
    return false;
  }
  resizeMessageArea(area, static_cast<std::uint64_t>(fileLength) - kPacketHeaderSize);
  return readFullyAt(packet, kPacketHeaderSize, area->bytes.get(), area->length);
}

namespace {

// Why the walk failed at message `number` (counted from 1), which begins
// at `offset` in the area.
std::string messageAt(int number, Offset offset) {
  return "message " + std::to_string(number) + " at offset " +
         std::to_string(offset + static_cast<Offset>(kPacketHeaderSize));
}

// One pass over the area: counts the qualifying messages and, when `apply`
// is given, gives them the new origin and tells it. A malformed area is
// found on the first pass, which notes why.
MessageWalk walkMessageArea(unsigned char* bytes, std::size_t length,
                            const NodeAddress& oldOrigin, const NodeAddress& newOrigin,
                            const ChangedMessage* apply) {
  const Offset end = static_cast<Offset>(length);
  const Offset padEnd = end + static_cast<Offset>(kZeroPad);
  MessageWalk walk;
  Offset p = 0;
  for (int number = 1;; ++number) {
    if (end - p <= static_cast<Offset>(kShortestRemainderExamined)) {
      walk.ok = true;
      return walk;
    }
    const std::uint16_t type = readWord(bytes + p + message_offset::kMessageType);
    if (type != kPackedMessageType) {
      noteFailure(messageAt(number, p) + ": type " + std::to_string(type) + ", not 2");
      return walk;
    }
    Offset t = p + static_cast<Offset>(message_offset::kStrings);
    for (int skipped = 0; skipped < 4; ++skipped) t = afterNul(bytes, t, padEnd);
    if (end - t < 3) {
      noteFailure("the header of " + messageAt(number, p) + " runs past the end");
      return walk;
    }
    if (qualifies(bytes + p, bytes + t, end - t, oldOrigin)) {
      if (apply != nullptr) {
        setMessageOrigin(bytes + p, newOrigin);
        if (*apply) (*apply)(static_cast<std::size_t>(p));
      }
      if (walk.changedCount < std::numeric_limits<int>::max()) ++walk.changedCount;
    }
    Offset q = afterNul(bytes, t, padEnd);
    if (end - q < 2) {
      noteFailure("the text of message " + std::to_string(number) + " runs past the end");
      return walk;
    }
    if (bytes[q] == 0 && bytes[q + 1] == 0) {
      walk.ok = end - q == 2;
      if (!walk.ok) noteFailure("bytes after the terminating zero word");
      return walk;
    }
    p = q;
  }
}

}  // namespace

MessageWalk rewriteMessageArea(MessageArea* area, const NodeAddress& oldOrigin,
                               const NodeAddress& newOrigin, const ChangedMessage& onChanged) {
  MessageWalk check =
      walkMessageArea(area->bytes.get(), area->length, oldOrigin, newOrigin, nullptr);
  if (!check.ok || check.changedCount == 0) return check;
  return walkMessageArea(area->bytes.get(), area->length, oldOrigin, newOrigin, &onChanged);
}

namespace {

std::int64_t pageOf(const ChangeWrites& writes, std::int64_t offset) {
  return offset / writes.pageSize;
}

// The file bytes [first, end) of a message's origin fields, origNode to origNet.
struct OriginFields {
  std::int64_t first;
  std::int64_t end;
};

OriginFields originFieldsOf(std::int64_t messageAt) {
  return {messageAt + static_cast<std::int64_t>(message_offset::kOrigNode),
          messageAt + static_cast<std::int64_t>(message_offset::kOrigNet) + 2};
}

// The area's byte at this offset of the file: the area starts right after
// the header.
unsigned char* inArea(const MessageArea& area, std::int64_t fileOffset) {
  return area.bytes.get() + (fileOffset - static_cast<std::int64_t>(kPacketHeaderSize));
}

// Writes the file bytes [begin, end) from the area.
bool writeAreaBytes(FileHandle packet, const MessageArea& area, std::int64_t begin,
                    std::int64_t end) {
  return writeFullyAt(packet, begin, inArea(area, begin), static_cast<std::size_t>(end - begin));
}

bool writeChangedMessages(FileHandle packet, MessageArea* area, const ChangeWrites& writes,
                          const NodeAddress& oldOrigin, const NodeAddress& newOrigin) {
  // A changed message holds the old origin's net and node before the change.
  for (std::int64_t at : writes.straddling) setMessageOrigin(inArea(*area, at), oldOrigin);
  bool written = writes.begin == writes.end ||
                 writeAreaBytes(packet, *area, writes.begin, writes.end);
  for (std::int64_t at : writes.straddling) {
    setMessageOrigin(inArea(*area, at), newOrigin);
    const OriginFields fields = originFieldsOf(at);
    written = written && writeAreaBytes(packet, *area, fields.first, fields.end);
  }
  return written;
}

}  // namespace

void addChangedMessage(ChangeWrites* writes, std::int64_t messageAt) {
  const OriginFields fields = originFieldsOf(messageAt);
  if (pageOf(*writes, fields.first) != pageOf(*writes, fields.end - 1)) {
    writes->straddling.push_back(messageAt);
    return;
  }
  if (writes->begin == writes->end) writes->begin = fields.first;
  writes->end = fields.end;
}

bool countMessagesToRewrite(MessageArea* area, const NodeAddress& oldOrigin, int* changedCount) {
  // Only the old origin decides which messages qualify.
  MessageWalk walk =
      walkMessageArea(area->bytes.get(), area->length, oldOrigin, oldOrigin, nullptr);
  *changedCount = walk.changedCount;
  return walk.ok;
}

AreaRewrite rewriteMessages(FileHandle packet, const NodeAddress& oldOrigin,
                            const NodeAddress& newOrigin, MessageArea* area, int* changedCount) {
  *changedCount = 0;
  ChangeWrites writes;
  writes.pageSize = static_cast<std::int64_t>(filePageSize());
  const std::int64_t areaAt = kPacketHeaderSize;
  MessageWalk walk = rewriteMessageArea(area, oldOrigin, newOrigin, [&](std::size_t messageStart) {
    addChangedMessage(&writes, areaAt + static_cast<std::int64_t>(messageStart));
  });
  if (!walk.ok) return AreaRewrite::Malformed;
  *changedCount = walk.changedCount;
  return writeChangedMessages(packet, area, writes, oldOrigin, newOrigin)
             ? AreaRewrite::Written
             : AreaRewrite::WriteFailed;
}
