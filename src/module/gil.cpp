// The one place that lets the interpreter go, its exit protocol and the threading primitives: see
// gil.hpp for why they exist.
#include "module/gil.hpp"

#include <atomic>
#include <chrono>
#include <thread>
#include <utility>

#include "platform/platform.hpp"

namespace vantor::py {
namespace detail {
constinit std::atomic<bool> closing{false};
constinit std::atomic<unsigned long> exit_thread{0};
}  // namespace detail

namespace {

#ifdef VANTOR_EXIT_PROTOCOL
// Threads that have decided to take the GIL back and do not have it yet: the exit callback waits
// for these, and only these, since the decision was taken before "closing" could stop it.
constinit std::atomic<size_t> g_retaking{0};
// The exit callback is in atexit's list (registered and not yet run).
constinit std::atomic<bool> g_hook_registered{false};
// How long the exit callback waits for a handoff of the GIL in progress.
constexpr std::chrono::milliseconds kHandoffBound{500};
#endif
// The after-fork reset: 0 not registered, 1 being registered, 2 registered.
constinit std::atomic<int> g_fork_reset_state{0};
#if PY_VERSION_HEX >= 0x030D0000
// The thread that receives signals, as the interpreter's own `_thread` module reports it.
constinit std::atomic<unsigned long> g_main_thread{0};
#endif

// Work done with the GIL held lets waiting threads run this often, pausing this long.
constexpr std::chrono::milliseconds kYieldInterval{5};
constexpr std::chrono::microseconds kYieldPause{50};

// How often the thread that receives signals looks for them during released work.
constexpr std::chrono::milliseconds kSignalCheckInterval{20};

// Called with the GIL held.
bool receives_signals() noexcept {
#if PY_VERSION_HEX >= 0x030D0000
  return PyThread_get_thread_ident() == g_main_thread.load(std::memory_order_relaxed);
#else
  return _PyOS_IsMainThread() != 0;
#endif
}

bool interpreter_finalizing() noexcept {
#if PY_VERSION_HEX >= 0x030D0000
  return Py_IsFinalizing() != 0;
#else
  return _Py_IsFinalizing() != 0;
#endif
}

[[noreturn]] void park_for_good() noexcept {
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

#ifdef VANTOR_EXIT_PROTOCOL
// A daemon thread of a closing process: the GIL may no longer be taken back inside our frames.
bool must_park() noexcept { return detail::closing.load() && !detail::on_exit_thread(); }

// The atexit callback of the thread that finalizes: from now on no other thread takes the GIL
// back in our code, and those already taking it get it before the interpreter can end them.
Result<Ref> close_for_exit(PyObject*) {
  g_hook_registered.store(false);  // atexit drops its list after running it
  Ref frame(reinterpret_cast<PyObject*>(PyThreadState_GetFrame(PyThreadState_Get())));
  if (frame) return new_none();  // atexit._run_exitfuncs() called from Python code: no exit
  detail::exit_thread.store(PyThread_get_thread_ident());
  detail::closing.store(true);
  if (g_retaking.load() != 0) {
    // They wait for the GIL alone; the bound only guards against a thread that holds it for good.
    Py_BEGIN_ALLOW_THREADS
    const auto deadline = std::chrono::steady_clock::now() + kHandoffBound;
    while (g_retaking.load() != 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    Py_END_ALLOW_THREADS
  }
  return new_none();
}

PyMethodDef kExitHook = {"_vantor_close_for_exit", &noargs<close_for_exit>, METH_NOARGS, nullptr};

Status call_atexit(const char* function_name, PyObject* hook) {
  Ref module(PyImport_ImportModule("atexit"));
  if (!module) return fail_fetched();
  Ref result(PyObject_CallMethod(module.get(), function_name, "O", hook));
  if (!result) return fail_fetched();
  return {};
}

// Once in atexit's list, whatever it held before: callbacks of one definition compare equal.
Status register_exit_hook() {
  Ref hook(PyCFunction_New(&kExitHook, nullptr));
  if (!hook) return fail_fetched();
  VANTOR_CHECK(call_atexit("unregister", hook.get()));
  VANTOR_CHECK(call_atexit("register", hook.get()));
  g_hook_registered.store(true);
  return {};
}
#endif

// In the child of any fork, this process's or a C library's: the threads counted in the parent do
// not exist there, and the forking thread is the child's main thread. pthread_atfork rather than
// os.register_at_fork, which a fork() outside the interpreter's os module never runs; the same
// mechanism serves the generators and the version-7 state.
void reset_in_child() noexcept {
#ifdef VANTOR_EXIT_PROTOCOL
  g_retaking.store(0);
#endif
#if PY_VERSION_HEX >= 0x030D0000
  g_main_thread.store(PyThread_get_thread_ident());
#endif
}

Status register_fork_reset() {
  int expected = 0;
  if (!g_fork_reset_state.compare_exchange_strong(expected, 1)) return {};
  if (int err = platform::register_fork_child_handler(&reset_in_child)) {
    g_fork_reset_state.store(0);
    return fail(PyExc_ImportError,
                "vantor: cannot register the after-fork reset of its thread accounting: pthread_atfork: " +
                    platform::error_text(err));
  }
  g_fork_reset_state.store(2);
  return {};
}

#if PY_VERSION_HEX >= 0x030D0000
Status read_main_thread() {
  Ref module(PyImport_ImportModule("_thread"));
  if (!module) return fail_fetched();
  Ref ident(PyObject_CallMethod(module.get(), "_get_main_thread_ident", nullptr));
  if (!ident) return fail_fetched();
  unsigned long main_thread = PyLong_AsUnsignedLong(ident.get());
  if (main_thread == static_cast<unsigned long>(-1) && PyErr_Occurred()) return fail_fetched();
  g_main_thread.store(main_thread);
  return {};
}
#endif

}  // namespace

bool detail::on_exit_thread() noexcept {
  return PyThread_get_thread_ident() == exit_thread.load(std::memory_order_relaxed);
}

Status install_gil_exit_hook() {
#if PY_VERSION_HEX >= 0x030D0000
  VANTOR_CHECK(read_main_thread());
#endif
  VANTOR_CHECK(register_fork_reset());
#ifdef VANTOR_EXIT_PROTOCOL
  // A module executes in a live interpreter: a "closing" left here was an earlier one's.
  if (!interpreter_finalizing()) detail::closing.store(false);
  VANTOR_CHECK(register_exit_hook());
#endif
  return {};
}

Status ensure_gil_exit_hook() {
#ifdef VANTOR_EXIT_PROTOCOL
  if (!g_hook_registered.load(std::memory_order_relaxed) && !detail::closing.load()) [[unlikely]]
    return register_exit_hook();
#endif
  return {};
}

void GilReleased::release() noexcept {
#ifdef VANTOR_EXIT_PROTOCOL
  if (must_park()) [[unlikely]] {
    (void)PyEval_SaveThread();
    park_for_good();
  }
#endif
  handles_signals_ = receives_signals();
  if (handles_signals_) next_check_ = std::chrono::steady_clock::now() + kSignalCheckInterval;
  state_ = PyEval_SaveThread();
}

void GilReleased::retake() {
  if (state_ == nullptr) return;
#ifdef VANTOR_EXIT_PROTOCOL
  // Announced before "closing" is read, as the exit callback sets it before reading the count:
  // either this thread parks, or the callback waits for it to have the GIL.
  g_retaking.fetch_add(1);
  if (must_park()) [[unlikely]] {
    g_retaking.fetch_sub(1);
    park_for_good();
  }
  // Only when the exit callback could not run (it was removed from atexit's list): the
  // interpreter would end this thread here.
  if (interpreter_finalizing()) [[unlikely]] {
    g_retaking.fetch_sub(1);
    park_for_good();
  }
  PyEval_RestoreThread(std::exchange(state_, nullptr));
  g_retaking.fetch_sub(1);
#else
  // 3.14 and later park a thread that attaches during finalization themselves.
  PyEval_RestoreThread(std::exchange(state_, nullptr));
#endif
}

Status GilReleased::checkpoint() {
  if (state_ != nullptr) {
#ifdef VANTOR_EXIT_PROTOCOL
    const bool closing = detail::closing.load(std::memory_order_relaxed);
#else
    constexpr bool closing = false;
#endif
    if (!closing) [[likely]] {
      if (!handles_signals_ || std::chrono::steady_clock::now() < next_check_) return {};
    }
    retake();
  }
  if (PyErr_CheckSignals() < 0) return fail_fetched();
  release();
  return {};
}

Status checkpoint_with_gil() {
  if (PyErr_CheckSignals() < 0) return fail_fetched();
#ifdef VANTOR_EXIT_PROTOCOL
  // A daemon thread of a closing process does not go on holding the GIL for the rest of its work.
  if (must_park()) [[unlikely]] {
    (void)PyEval_SaveThread();
    park_for_good();
  }
#endif
  // Letting the GIL go and taking it straight back would starve a waiting thread: it wakes to
  // find the GIL taken again, and as the GIL did change hands it never asks for a switch. So,
  // once per switch interval (the interpreter's 5 ms), the GIL stays free long enough for a
  // waiting thread to take it; the work then continues once that thread lets it go.
  thread_local std::chrono::steady_clock::time_point next_yield{};
  const auto now = std::chrono::steady_clock::now();
  GilReleased moment;
  if (now >= next_yield) {
    next_yield = now + kYieldInterval;
    std::this_thread::sleep_for(kYieldPause);
  }
  return {};
}

std::unique_lock<std::mutex> lock_detached(std::mutex& mutex) {
  std::unique_lock lock(mutex, std::try_to_lock);
  while (!lock.owns_lock()) [[unlikely]] {
    {
      GilReleased detached;
      lock.lock();  // the holder is attached and touches nothing of the interpreter: brief
      lock.unlock();
    }
    (void)lock.try_lock();
  }
  return lock;
}

PyObject* publish_once(std::atomic<PyObject*>& cell, PyObject* created) {
  PyObject* expected = nullptr;
  if (cell.compare_exchange_strong(expected, created, std::memory_order_acq_rel, std::memory_order_acquire))
    return created;
  Py_DECREF(created);  // another thread stored first
  return expected;
}

}  // namespace vantor::py
