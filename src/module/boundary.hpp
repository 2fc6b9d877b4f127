// The call boundary: owned references, the error model and the entry wrappers through which
// every call from the interpreter enters native code.
//
// A native operation returns Result<T>: its value, or a PendingError for an expected failure.
// An internal failure is a thrown vantor::Panic, caught only here and raised as PanicException.
// No C++ exception ever crosses into the interpreter. The one unwind that does cross our frames is
// the interpreter's own: on 3.12 and 3.13 a thread that asks for the GIL during finalization ends
// with pthread_exit, whose forced unwind may start in Python code that one of our calls runs (an
// __index__, a generator). It must pass: every catch-all on such a path rethrows it, and the
// frames it crosses hold RAII objects only (gil.hpp).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include "module/compat.hpp"

#include <atomic>
#include <expected>
#include <string>
#include <utility>

#if defined(__GLIBCXX__) && defined(__GLIBC__)
// glibc's pthread_exit and pthread_cancel unwind the thread's stack with a forced unwind, which
// libstdc++ lets a catch-all see as abi::__forced_unwind; elsewhere threads end without unwinding.
#include <cxxabi.h>
#define VANTOR_FORCED_UNWIND 1
#endif

#include "core/panic.hpp"
#include "uuid/uuid_value.hpp"

// 3.12 and 3.13 end a thread that asks for the GIL during finalization (gil.hpp).
#if PY_VERSION_HEX < 0x030E0000
#define VANTOR_EXIT_PROTOCOL 1
#endif

namespace vantor::py {

namespace detail {
// Set by the exit callback of the thread that finalizes (gil.cpp), with that thread's identity.
extern std::atomic<bool> closing;
extern std::atomic<unsigned long> exit_thread;
bool on_exit_thread() noexcept;
}  // namespace detail

// Whether this thread may touch Python objects from a destructor. Not a daemon thread of a
// closing process: it may be unwinding after pthread_exit, without the GIL, and its objects are
// left as the interpreter leaves those of its own frames. One relaxed load otherwise.
inline bool may_touch_objects() noexcept {
#ifdef VANTOR_EXIT_PROTOCOL
  if (detail::closing.load(std::memory_order_relaxed)) [[unlikely]]
    return detail::on_exit_thread();
#endif
  return true;
}

// A move-only owned reference. Borrowed references stay raw PyObject pointers.
class Ref {
 public:
  Ref() noexcept = default;
  explicit Ref(PyObject* owned) noexcept : object_(owned) {}
  static Ref borrow(PyObject* borrowed) noexcept {
    Py_XINCREF(borrowed);
    return Ref(borrowed);
  }
  Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  Ref& operator=(Ref&& other) noexcept {
    Ref(std::move(other)).swap(*this);
    return *this;
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() {
    if (object_ != nullptr && may_touch_objects()) Py_DECREF(object_);
  }

  PyObject* get() const noexcept { return object_; }
  PyObject* release() noexcept { return std::exchange(object_, nullptr); }
  explicit operator bool() const noexcept { return object_ != nullptr; }
  void swap(Ref& other) noexcept { std::swap(object_, other.object_); }

 private:
  PyObject* object_ = nullptr;
};

// An expected failure: a deferred exception (type and message, created only when raised or when
// a note must be attached), or an exception object that already exists.
class PendingError {
 public:
  PendingError(PyObject* type, std::string message) noexcept
      : type_(type), message_(std::move(message)) {}
  static PendingError from_exception(Ref exception) noexcept {
    PendingError error(nullptr, {});
    error.exception_ = std::move(exception);
    return error;
  }

  // Sets the interpreter's error indicator.
  void raise() &&;
  // An Exception subclass other than MemoryError: a failure that may be dropped or reported in
  // other words. Interrupts (KeyboardInterrupt, SystemExit) and running out of memory may not.
  bool ordinary() const noexcept;
  // The exception object, created now if it was deferred.
  Ref into_exception() &&;

 private:
  PyObject* type_;  // a static exception type, for the deferred form
  std::string message_;
  Ref exception_;
};

template <class T>
using Result = std::expected<T, PendingError>;
using Status = std::expected<void, PendingError>;

[[gnu::cold]] inline std::unexpected<PendingError> fail(PyObject* type, std::string message) {
  return std::unexpected(PendingError(type, std::move(message)));
}
inline std::unexpected<PendingError> fail(PendingError error) {
  return std::unexpected(std::move(error));
}

// Evaluates a Result expression; on failure returns its error from the enclosing function,
// otherwise declares `name` holding the value.
#define VANTOR_TRY(name, expression)                                          \
  auto name##_result = (expression);                                          \
  if (!name##_result) [[unlikely]]                                            \
    return ::vantor::py::fail(std::move(name##_result.error()));              \
  auto name = *std::move(name##_result)

// Evaluates a Result or Status expression for its success alone.
#define VANTOR_CHECK(expression)                                              \
  if (auto check_result_ = (expression); !check_result_) [[unlikely]]         \
  return ::vantor::py::fail(std::move(check_result_.error()))

// Takes the exception the interpreter has just reported. A PanicException raised in Python code
// (for instance inside an __index__ we called) is not an ordinary error: it is printed and
// resumed as an internal failure with the same message, so it reaches the caller unchanged.
[[gnu::cold]] PendingError fetch_error();
[[gnu::cold]] inline std::unexpected<PendingError> fail_fetched() { return std::unexpected(fetch_error()); }

// Drops the exception an interpreter call just reported where that failure does not matter (a
// size hint, a note that could not be attached). Only an ordinary failure is dropped: anything
// else (Ctrl-C, SystemExit, MemoryError) is returned and must propagate unchanged. A
// PanicException is still resumed: an internal failure must never vanish.
[[nodiscard, gnu::cold]] inline Status discard_error() {
  PendingError error = fetch_error();
  if (error.ordinary()) return {};
  return std::unexpected(std::move(error));
}

// The UTF-8 text of a str object, or `fallback` when there is none (a failed call that produced
// it, or text that cannot be encoded); any error is cleared.
std::string text_or(Ref text, const char* fallback);
// A type's qualified name, as messages show it.
std::string qualified_name(PyTypeObject* type);

// The TypeError raised wherever an object is not of an expected Python type.
[[gnu::cold]] PendingError type_mismatch(PyObject* object, const char* expected);

// The PanicException class, created on first use.
PyObject* panic_exception_type();

// An interned str kept in `cell` for the life of the process.
PyObject* interned_cached(std::atomic<PyObject*>& cell, const char* text);

// An object-creating interpreter call that returned NULL is an internal failure.
[[noreturn, gnu::cold]] void null_object_failure();
inline Ref checked(PyObject* created) {
  if (created == nullptr) [[unlikely]]
    null_object_failure();
  return Ref(created);
}

// Interned names used by the module.
PyObject* interned_name();      // "__name__"
PyObject* interned_all();       // "__all__"
PyObject* interned_add_note();  // "add_note"

// Result conversions from native values.
inline Ref new_int(long value) { return checked(PyLong_FromLong(value)); }
inline Ref new_int_u64(uint64_t value) { return checked(PyLong_FromUnsignedLongLong(value)); }
Ref new_int_u128(u128 value);
// The same int, or NULL with the interpreter's exception set (MemoryError), for callers whose
// own surface reports a failed allocation as such.
PyObject* make_int_u128(u128 value) noexcept;
Ref new_ascii(const char* text, size_t length);
inline Ref new_bytes(const void* data, size_t length) {
  return checked(PyBytes_FromStringAndSize(static_cast<const char*>(data), static_cast<Py_ssize_t>(length)));
}
inline Ref new_none() { return Ref::borrow(Py_None); }

// Entry wrappers. Each runs a body inside the guard, returns its value, raises its PendingError,
// or raises PanicException for an internal failure.
[[gnu::cold]] void raise_current_panic();

// Not noexcept, like the wrappers below: the interpreter's forced unwind must pass (see above).
template <class T, class Body>
inline T guarded(T failure, Body&& body) {
  try {
    auto result = body();
    if (result) [[likely]] {
      if constexpr (std::is_same_v<std::remove_cvref_t<decltype(*result)>, Ref>)
        return result->release();
      else if constexpr (std::is_void_v<typename decltype(result)::value_type>)
        return T{};
      else
        return *result;
    }
    std::move(result.error()).raise();
  }
#ifdef VANTOR_FORCED_UNWIND
  catch (abi::__forced_unwind&) {
    throw;
  }
#endif
  catch (...) {
    raise_current_panic();
  }
  return failure;
}

template <auto Body>
PyObject* noargs(PyObject* self, PyObject*) {
  return guarded<PyObject*>(nullptr, [&] { return Body(self); });
}

template <auto Body>
PyObject* fastcall(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded<PyObject*>(nullptr, [&] { return Body(self, args, PyVectorcall_NARGS(nargs), kwnames); });
}

// A fastcall entry as the PyCFunction that method tables store.
#define VANTOR_FASTCALL(body) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&::vantor::py::fastcall<body>))

template <auto Body>
PyObject* getter(PyObject* self, void*) {
  return guarded<PyObject*>(nullptr, [&] { return Body(self); });
}

template <auto Body>
PyObject* unary_slot(PyObject* self) {
  return guarded<PyObject*>(nullptr, [&] { return Body(self); });
}

template <auto Body>
PyObject* richcompare_slot(PyObject* self, PyObject* other, int op) {
  return guarded<PyObject*>(nullptr, [&] { return Body(self, other, op); });
}

template <auto Body>
Py_hash_t hash_slot(PyObject* self) {
  return guarded<Py_hash_t>(-1, [&] { return Body(self); });
}

template <auto Body>
int setattro_slot(PyObject* self, PyObject* name, PyObject* value) {
  return guarded<int>(-1, [&] { return Body(self, name, value); });
}

template <auto Body>
PyObject* new_slot(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded<PyObject*>(nullptr, [&] { return Body(type, args, kwargs); });
}

template <auto Body>
int exec_slot(PyObject* module) {
  return guarded<int>(-1, [&] { return Body(module); });
}

}  // namespace vantor::py
