// Time-based generation for Python: uuid1, uuid6, uuid7, _uuid7_int and getnode.
#include <atomic>
#include <mutex>

#include "module/binding.hpp"
#include "module/functions.hpp"
#include "module/gil.hpp"
#include "module/uuid_type.hpp"
#include "platform/platform.hpp"
#include "random/thread_rng.hpp"
#include "time/clock.hpp"
#include "time/gregorian.hpp"
#include "time/node.hpp"
#include "time/v7.hpp"
#include "time/v7_reservation.hpp"

namespace vantor::py {
namespace {

#ifdef Py_GIL_DISABLED
// Threads run in parallel: each takes its values from a block of its own (v7_reservation.hpp).
constinit thread_local V7Reservation tls_v7_reservation;
#endif

uint32_t draw_u32() { return thread_rng().draw_u32(); }
uint64_t draw_u64() { return thread_rng().draw_u64(); }

constexpr std::string_view kGregorianNames[] = {"node", "clock_seq"};
constexpr ArgumentSpec kUuid1Spec{"uuid1", nullptr, kGregorianNames, 0, {}};
constexpr ArgumentSpec kUuid6Spec{"uuid6", nullptr, kGregorianNames, 0, {}};
constexpr std::string_view kV7KeywordNames[] = {"nanoseconds"};
constexpr ArgumentSpec kUuid7Spec{"uuid7", nullptr, {}, 0, kV7KeywordNames};
constexpr ArgumentSpec kUuid7IntSpec{"_uuid7_int", nullptr, {}, 0, kV7KeywordNames};

using PackGregorian = UuidValue (*)(uint64_t ticks, uint16_t clock_seq, uint64_t node) noexcept;

template <const ArgumentSpec& Spec, PackGregorian Pack>
Result<Ref> gregorian(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Slots slots;
  VANTOR_CHECK(bind_arguments(Spec, args, nargs, kwnames, slots));
  VANTOR_TRY(given_node, convert_optional<to_u64>(slots[0], "node"));
  VANTOR_TRY(given_clock_seq, convert_optional<to_u64>(slots[1], "clock_seq"));
  uint64_t node = given_node ? *given_node : default_node(draw_u32);
  uint16_t clock_seq;
  Timestamp now;
  if (given_clock_seq) {
    auto reading = now_since_epoch();
    if (!reading) [[unlikely]]
      internal_failure(clock_unwrap_failure_message(reading.error()));
    now = *reading;
    clock_seq = static_cast<uint16_t>(*given_clock_seq);
  } else {
    // The sequence is seeded before the clock is read but advanced only once it has been read.
    ClockSequenceContext& sequence = clock_sequence();
    sequence.ensure_initialised(draw_u32);
    auto reading = now_since_epoch();
    if (!reading) [[unlikely]]
      internal_failure(clock_failure_message(reading.error()));
    now = *reading;
    clock_seq = sequence.advance();
  }
  return new_uuid(Pack(gregorian_ticks(now.seconds, now.subsec_nanos), clock_seq, node));
}

// The value of a version-7 UUID: for a given time, or from the clock through the shared state.
template <const ArgumentSpec& Spec>
Result<UuidValue> v7_value(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Slots slots;
  VANTOR_CHECK(bind_arguments(Spec, args, nargs, kwnames, slots));
  VANTOR_TRY(nanoseconds, convert_optional<to_u128>(slots[0], "nanoseconds"));
  if (nanoseconds) return pack_v7(timestamp_from_nanoseconds(*nanoseconds), std::nullopt, thread_rng().draw_u128());
  auto reading = now_since_epoch();
  if (!reading) [[unlikely]]
    internal_failure(clock_failure_message(reading.error()));
  V7Step step = next_v7_step(*reading);
  return pack_v7(step.timestamp, step.counter, thread_rng().draw_u128());
}

Result<Ref> uuid7(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  VANTOR_TRY(value, v7_value<kUuid7Spec>(args, nargs, kwnames));
  return new_uuid(value);
}

Result<Ref> uuid7_int(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  VANTOR_TRY(value, v7_value<kUuid7IntSpec>(args, nargs, kwnames));
  return new_int_u128(value.to_u128());
}

Result<Ref> getnode(PyObject*) { return new_int_u64(default_node(draw_u32)); }

// A forked child must not repeat its parent's clock sequence or continue its v7 counter.
void on_fork_child() noexcept {
  clock_sequence().on_fork_child();
  v7_context().on_fork_child();
#ifdef Py_GIL_DISABLED
  // The child's one thread must not continue the parent's block either.
  tls_v7_reservation = {};
#endif
}

}  // namespace

V7Step next_v7_step(Timestamp reading) {
  V7Context& context = v7_context();
#ifdef Py_GIL_DISABLED
  return next_v7_reserved(tls_v7_reservation, context, reading, lock_detached, draw_u64);
#else
  // With the GIL the lock is never contended, and values follow the order of the calls.
  std::unique_lock lock = lock_detached(context.mutex);
  return next_v7_timestamp(context.state, reading, draw_u64);
#endif
}

V7Batch reserve_v7_values(Timestamp reading, uint64_t n) {
#ifdef Py_GIL_DISABLED
  // The batch's values lie above this thread's block, so the block's rest may not follow them.
  tls_v7_reservation = {};
#endif
  V7Context& context = v7_context();
  std::unique_lock lock = lock_detached(context.mutex);
  return reserve_v7_batch(context.state, reading, n, draw_u64);
}

// Without it a forked child would hand out its parent's clock sequence and version-7 values: an
// import that cannot have it fails rather than go on unprotected, and the next import tries again.
Status register_time_fork_handlers() {
  constinit static std::atomic<bool> registered{false};
  static std::mutex registering;  // not constinit: mingw's std::mutex has no constexpr constructor
  if (registered.load(std::memory_order_acquire)) [[likely]]
    return {};
  std::lock_guard lock(registering);  // held for one system call, touching no Python object
  if (registered.load(std::memory_order_relaxed)) return {};
  if (int err = platform::register_fork_child_handler(&on_fork_child))
    return fail(PyExc_ImportError,
                "vantor: cannot register the fork handler that keeps a forked child's version-1, 6 and 7 "
                "state apart from its parent's: pthread_atfork: " + platform::error_text(err));
  registered.store(true, std::memory_order_release);
  return {};
}

PyMethodDef uuid1_definition = {"uuid1", VANTOR_FASTCALL((gregorian<kUuid1Spec, &pack_v1>)), kFunctionFastcall,
                                 "uuid1(node=None, clock_seq=None)\n--\n\n"};
PyMethodDef uuid6_definition = {"uuid6", VANTOR_FASTCALL((gregorian<kUuid6Spec, &pack_v6>)), kFunctionFastcall,
                                 "uuid6(node=None, clock_seq=None)\n--\n\n"};
PyMethodDef uuid7_definition = {"uuid7", VANTOR_FASTCALL(uuid7), kFunctionFastcall, "uuid7(*, nanoseconds=None)\n--\n\n"};
PyMethodDef uuid7_int_definition = {"_uuid7_int", VANTOR_FASTCALL(uuid7_int), kFunctionFastcall,
                                     "_uuid7_int(*, nanoseconds=None)\n--\n\n"};
PyMethodDef getnode_definition = {"getnode", &noargs<getnode>, kFunctionNoargs, "getnode()\n--\n\n"};

}  // namespace vantor::py
