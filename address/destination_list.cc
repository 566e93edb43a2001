#include "address/destination_list.h"

#include <cstdio>

#include "base/ascii.h"

namespace {

enum Field { ZoneField, NetField, NodeField, PointField };

// A field is open when the text from it to the end of the token is empty or
// begins with "All" (so "Allnodes" opens it too).
bool isOpenField(std::string_view rest) {
  return rest.empty() || asciiStartsWithIgnoringCase(rest, "All");
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

std::int16_t readFieldNumber(std::string_view text) {
  std::int16_t value = 0;
  readAddressNumber(text, &value);
  return value;
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

// Reads the fields of token from `field` on, starting at `pos`; each field's
// text ends at the separator that introduces the next field.
DestinationEntry readFields(std::string_view token, Field field, std::size_t pos,
                            DestinationEntry entry) {
  for (;;) {
    std::string_view rest = token.substr(pos);
    if (isOpenField(rest)) {
      entry.wild = wildOpeningAt(field);
      return entry;
    }
    switch (field) {
      case ZoneField: {
        entry.address.zone = readFieldNumber(rest);
        pos = token.find(':', pos) + 1;
        field = NetField;
        break;
      }
      case NetField: {
        entry.address.net = readFieldNumber(rest);
        std::size_t slash = token.find('/', pos);
        if (slash == std::string_view::npos) {
          entry.wild = WildNode;
          return entry;
        }
        pos = slash + 1;
        field = NodeField;
        break;
      }
      case NodeField: {
        entry.address.node = readFieldNumber(rest);
        std::size_t dot = token.find('.', pos);
        if (dot == std::string_view::npos) {
          entry.address.point = 0;
          entry.wild = WildNone;
          return entry;
        }
        pos = dot + 1;
        field = PointField;
        break;
      }
      case PointField: {
        entry.address.point = readFieldNumber(rest);
        entry.wild = WildNone;
        return entry;
      }
    }
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

// Turns one argument into an entry, inheriting from previous.
DestinationEntry parseDestinationEntry(std::string_view token, const NodeAddress& previous) {
  DestinationEntry entry;
  if (asciiEqualIgnoringCase(token, "World")) {
    entry.wild = WildZone;
    return entry;
  }
  Field begin = beginningField(token);
  inheritLeadingFields(begin, previous, &entry.address);
  std::size_t start = begin == PointField ? 1 : 0;
  return readFields(token, begin, start, entry);
}

}  // namespace

void parseDestinationList(DestinationList* list, const NodeAddress& startAddress, int count,
                          const char* const* arguments) {
  NodeAddress previous = startAddress;
  for (int i = 0; i < count; ++i) {
    DestinationEntry entry = parseDestinationEntry(arguments[i], previous);
    list->entries.push_back(entry);
    previous = entry.address;
  }
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
