// The destination list: the address patterns, one per argument, that decide
// which packets get the new origin. Written in the syntax of the mail
// processor's routing file: partial addresses inherit their leading fields
// from the entry before, "All" and an empty trailing field leave the rest
// open, "World" matches everything.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "address/node_address.h"

// How many trailing address fields an entry leaves open, counted from the point.
enum Wild : std::int32_t {
  WildNone = 0,   // zone, net, node given; point 0 also matches every point
  WildPoint = 1,  // any point of the node
  WildNode = 2,   // any node of the net
  WildNet = 3,    // any net of the zone
  WildZone = 4,   // everything
};

struct DestinationEntry {
  NodeAddress address;  // open fields hold 0
  Wild wild = WildNone;
};

struct DestinationList {
  std::vector<DestinationEntry> entries;  // in argument order
};

// Appends one entry per argument, in order, and gives how many arguments
// it read: all of them, or those before the first that is no destination
// (which appends nothing). startAddress is the first "previous address"
// that partial entries inherit from.
//
// A destination is "World", or an address pattern that reads whole: each
// number decimal digits only from 0 to 65535, an open field empty or
// "All" with nothing after it, nothing after the point's digits; an
// "@domain" at its end is taken off first and not looked at. So "2:All",
// "2:", "2:335", "2:335/", "332/7", "600", ".4", ".All", "2:335/500." and
// "" are destinations; "2:abc/5", "2:/5", "2:335.5", "*" and "Allnodes" are
// not.
int parseDestinationList(DestinationList* list, const NodeAddress& startAddress, int count,
                         const char* const* arguments);

// True when at least one entry matches the address; false for an empty list.
bool destinationListMatches(const DestinationList& list, const NodeAddress& address);

// What the entry selects, in route syntax with each number as messages write
// addresses: "World", "2:All", "2:335/All", "2:335/500.All" (a node and all
// its points) or "2:335/500.3".
std::string destinationSelection(const DestinationEntry& entry);
