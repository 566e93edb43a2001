#include "packet/packet_rewrite.h"

#include "base/file_io.h"

Verdict judgePacket(const Work& work, const PacketHeader& header) {
  if (work.destinations != nullptr &&
      !destinationListMatches(*work.destinations, headerDestination(header))) {
    return Verdict::Unlisted;
  }
  return sameNodeAddress(headerOrigin(header), work.origin) ? Verdict::AlreadyFrom
                                                            : Verdict::Rewrite;
}

AreaRewrite rewritePacketBytes(FileHandle packet, PacketHeader header, const NodeAddress& origin,
                               MessageArea* area, int* changedCount) {
  deferInterruptions();
  AreaRewrite rewrite = rewriteMessages(packet, headerOrigin(header), origin, area, changedCount);
  if (rewrite == AreaRewrite::Written) {
    setHeaderOrigin(&header, origin);
    if (!writeFullyAt(packet, 0, header.bytes, kPacketHeaderSize)) {
      rewrite = AreaRewrite::WriteFailed;
    }
  }
  allowInterruptions();
  return rewrite;
}
