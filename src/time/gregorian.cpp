#include "time/gregorian.hpp"

namespace vantor {

namespace {

// constinit: usable from the first call, with no guard and no static-initialisation order issue.
constinit ClockSequenceContext g_clock_sequence;

}  // namespace

ClockSequenceContext& clock_sequence() noexcept { return g_clock_sequence; }

}  // namespace vantor
