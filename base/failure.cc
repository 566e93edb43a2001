#include "base/failure.h"

#include <utility>

#include "base/platform.h"

namespace {

std::string noted;

}  // namespace

void noteFailure(std::string reason) { noted = std::move(reason); }

void noteSystemFailure() { noted = systemErrorText(); }

std::string takeFailureReason() {
  std::string reason;
  reason.swap(noted);
  return reason;
}
