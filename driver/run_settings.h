// The settings of a run: filled by the configuration file, then replaced by
// the command-line switches, read-only afterwards.
#pragma once

#include <optional>
#include <string>

#include "outbound/packers.h"

// What the command line asks to be shown instead of a run.
enum class Showing { Nothing, Help, Version };

struct RunSettings {
  std::optional<std::string> outboundDir;    // as written, trailing separator kept
  std::optional<std::string> statusLogPath;  // none: the run writes no status log
  bool preview = false;  // -n: report what a run would do, writing nothing
  bool tree = false;     // -r: the point directories and zone outbounds too
  bool flowFiles = false;  // -b: the packets and bundles flow files list too
  Showing showing = Showing::Nothing;  // --help or --version, the first given
  std::optional<std::string> unknownSwitch;  // the first switch it does not know
  Packers packers;  // Unpack, Pack and PackerTimeLimit in Pelorin.Cfg
};
