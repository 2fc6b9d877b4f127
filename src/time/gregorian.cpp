#include "time/gregorian.hpp"

namespace vantor {

namespace {

// A namespace-scope object, used with no guard. Constant-initialised wherever std::mutex has a
// constexpr constructor; not declared constinit because mingw-w64's (over winpthreads) has none.
ClockSequenceContext g_clock_sequence;

}  // namespace

ClockSequenceContext& clock_sequence() noexcept { return g_clock_sequence; }

}  // namespace vantor
