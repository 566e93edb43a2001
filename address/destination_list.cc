#include "address/destination_list.h"

#include <cstdio>

#include "base/ascii.h"

namespace {

enum Field { ZoneField, NetField, NodeField, PointField };

// A field is open when the text from it to the end of the token is empty
// or "All" in any case, with nothing after it.
bool isOpenField(std::string_view rest) {
  return rest.empty() || asciiEqualIgnoringCase(rest, "All");
}

Wild wildOpeningAt(Field field) {
  switch (field) {
    case ZoneField: return WildZone;
    case NetField: return WildNet;
    case NodeField: return WildNode;
    case PointField: return WildPoint;
  }
  return WildZone;
}

// The first ':', '/' or '.' of a token tells which field it begins with.
Field beginningField(std::string_view token) {
  std::size_t separator = token.find_first_of(":/.");
  if (separator == std::string_view::npos) return NodeField;
  switch (token[separator]) {
    case ':': return ZoneField;
    case '/': return NetField;
    default: return separator == 0 ? PointField : NodeField;
  }
}

void inheritLeadingFields(Field begin, const NodeAddress& previous, NodeAddress* address) {
  if (begin > ZoneField) address->zone = previous.zone;
  if (begin > NetField) address->net = previous.net;
  if (begin > NodeField) address->node = previous.node;
}

// Where a field's text ends: the zone at its ':', the net at the next '/',
// the node at the next '.', each or the end of the token; the point at the
// end.
std::size_t fieldEnd(std::string_view token, Field field, std::size_t pos) {
  const char ends[] = {':', '/', '.'};
  if (field == PointField) return token.size();
  const std::size_t end = token.find(ends[field], pos);
  return end == std::string_view::npos ? token.size() : end;
}

std::int16_t* fieldOf(DestinationEntry* entry, Field field) {
  NodeAddress& a = entry->address;
  std::int16_t* const fields[] = {&a.zone, &a.net, &a.node, &a.point};
  return fields[field];
}

// Reads the fields of the token from `field` on, starting at `pos`, each
// to its end (fieldEnd): a number, or open with nothing after it. A net
// that runs to the end of the token opens the node and what follows it; a
// node that does, the point. False when a field is neither.
bool readFields(std::string_view token, Field field, std::size_t pos, DestinationEntry* entry) {
  for (;;) {
    const std::string_view rest = token.substr(pos);
    if (isOpenField(rest)) {
      entry->wild = wildOpeningAt(field);
      return true;
    }
    const std::size_t end = fieldEnd(token, field, pos);
    // The zone's text must end at its ':'; the zone field is only ever
    // begun when the token has one.
    if (!addressNumber(token.substr(pos, end - pos), fieldOf(entry, field))) return false;
    if (end == token.size()) {
      entry->wild = field == NetField ? WildNode : WildNone;
      return true;
    }
    pos = end + 1;
    field = static_cast<Field>(field + 1);
  }
}

bool entryMatches(const DestinationEntry& entry, const NodeAddress& address) {
  if (entry.wild == WildZone) return true;
  if (entry.address.zone != address.zone) return false;
  if (entry.wild == WildNet) return true;
  if (entry.address.net != address.net) return false;
  if (entry.wild == WildNode) return true;
  if (entry.address.node != address.node) return false;
  if (entry.wild == WildPoint) return true;
  return entry.address.point == 0 || entry.address.point == address.point;
}

// Turns one argument into an entry, inheriting from previous; false when
// it is no destination.
bool parseDestinationEntry(std::string_view argument, const NodeAddress& previous,
                           DestinationEntry* entry) {
  std::string_view token;
  if (!withoutDomain(argument, &token)) return false;
  *entry = DestinationEntry{};
  if (asciiEqualIgnoringCase(token, "World")) {
    entry->wild = WildZone;
    return true;
  }
  Field begin = beginningField(token);
  inheritLeadingFields(begin, previous, &entry->address);
  return readFields(token, begin, begin == PointField ? 1 : 0, entry);
}

}  // namespace

int parseDestinationList(DestinationList* list, const NodeAddress& startAddress, int count,
                         const char* const* arguments) {
  NodeAddress previous = startAddress;
  for (int i = 0; i < count; ++i) {
    DestinationEntry entry;
    if (!parseDestinationEntry(arguments[i], previous, &entry)) return i;
    list->entries.push_back(entry);
    previous = entry.address;
  }
  return count;
}

bool destinationListMatches(const DestinationList& list, const NodeAddress& address) {
  for (const DestinationEntry& entry : list.entries) {
    if (entryMatches(entry, address)) return true;
  }
  return false;
}

std::string destinationSelection(const DestinationEntry& entry) {
  const NodeAddress& a = entry.address;
  char text[64];
  switch (entry.wild) {
    case WildZone: return "World";
    case WildNet: std::snprintf(text, sizeof text, "%hd:All", a.zone); break;
    case WildNode: std::snprintf(text, sizeof text, "%hd:%hd/All", a.zone, a.net); break;
    case WildPoint:
    case WildNone:
      if (entry.wild == WildPoint || a.point == 0) {
        std::snprintf(text, sizeof text, "%hd:%hd/%hd.All", a.zone, a.net, a.node);
      } else {
        std::snprintf(text, sizeof text, NODE_ADDRESS_FORMAT, NODE_ADDRESS_ARGS(a));
      }
      break;
  }
  return text;
}
