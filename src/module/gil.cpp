// The one GIL-release helper and its exit hook: see gil.hpp for why they exist.
#include "module/gil.hpp"

#include <atomic>
#include <chrono>
#include <thread>
#include <utility>

namespace vantor::py {
namespace {

// Threads between giving the GIL up and having taken it back.
constinit std::atomic<size_t> g_released{0};
// Set by the exit hook: from then on the GIL is never given up.
constinit std::atomic<bool> g_closing{false};
// The exit hook: 0 not installed, 1 being installed, 2 installed.
constinit std::atomic<int> g_hook_state{0};
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

void leave_released() noexcept {
  g_released.fetch_sub(1);
  g_released.notify_all();
}

// The atexit callback: no thread is left without the GIL, and none gives it up any more.
Result<Ref> wait_for_released_threads(PyObject*) {
  g_closing.store(true);
  if (g_released.load() != 0 && !interpreter_finalizing()) {
    Py_BEGIN_ALLOW_THREADS
    for (size_t count = g_released.load(); count != 0; count = g_released.load()) g_released.wait(count);
    Py_END_ALLOW_THREADS
  }
  return new_none();
}

// os.register_at_fork(after_in_child=...): the threads counted in the parent do not exist in the
// child, and the forking thread is the child's main thread.
Result<Ref> reset_in_child(PyObject*) {
  g_released.store(0);
#if PY_VERSION_HEX >= 0x030D0000
  g_main_thread.store(PyThread_get_thread_ident());
#endif
  return new_none();
}

PyMethodDef kExitHook = {"_vantor_wait_for_released_threads", &noargs<wait_for_released_threads>, METH_NOARGS,
                         nullptr};
PyMethodDef kForkHook = {"_vantor_reset_released_threads", &noargs<reset_in_child>, METH_NOARGS, nullptr};

Result<Ref> call_function(const char* module_name, const char* function_name, PyObject* argument,
                          const char* keyword = nullptr) {
  Ref module(PyImport_ImportModule(module_name));
  if (!module) return fail_fetched();
  Ref function(PyObject_GetAttrString(module.get(), function_name));
  if (!function) return fail_fetched();
  Ref result;
  if (keyword == nullptr) {
    result = Ref(argument == nullptr ? PyObject_CallNoArgs(function.get()) : PyObject_CallOneArg(function.get(), argument));
  } else {
    Ref names(Py_BuildValue("(s)", keyword));
    if (!names) return fail_fetched();
    PyObject* args[] = {argument};
    result = Ref(PyObject_Vectorcall(function.get(), args, 0, names.get()));
  }
  if (!result) return fail_fetched();
  return result;
}

Status install() {
#if PY_VERSION_HEX >= 0x030D0000
  VANTOR_TRY(ident, call_function("_thread", "_get_main_thread_ident", nullptr));
  unsigned long main_thread = PyLong_AsUnsignedLong(ident.get());
  if (main_thread == static_cast<unsigned long>(-1) && PyErr_Occurred()) return fail_fetched();
  g_main_thread.store(main_thread);
#endif
  Ref exit_hook(PyCFunction_New(&kExitHook, nullptr));
  if (!exit_hook) return fail_fetched();
  VANTOR_CHECK(call_function("atexit", "register", exit_hook.get()));
  Ref fork_hook(PyCFunction_New(&kForkHook, nullptr));
  if (!fork_hook) return fail_fetched();
#ifdef HAVE_FORK
  VANTOR_CHECK(call_function("os", "register_at_fork", fork_hook.get(), "after_in_child"));
#endif
  return {};
}

}  // namespace

Status install_gil_exit_hook() {
  int expected = 0;
  if (!g_hook_state.compare_exchange_strong(expected, 1)) return {};
  Status installed = install();
  g_hook_state.store(installed ? 2 : 0);
  return installed;
}

void GilReleased::release() noexcept {
  g_released.fetch_add(1);
  if (g_closing.load()) [[unlikely]] {
    leave_released();
    return;
  }
  handles_signals_ = receives_signals();
  if (handles_signals_) next_check_ = std::chrono::steady_clock::now() + kSignalCheckInterval;
  state_ = PyEval_SaveThread();
}

void GilReleased::retake() noexcept {
  if (state_ == nullptr) return;
  // Only when the exit hook could not run: the interpreter would end this thread inside our
  // frames (3.12, 3.13) if it asked for the GIL now.
  if (interpreter_finalizing()) [[unlikely]]
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
  PyEval_RestoreThread(std::exchange(state_, nullptr));
  leave_released();
}

Status GilReleased::checkpoint() {
  if (state_ != nullptr) {
    if (!g_closing.load(std::memory_order_relaxed)) [[likely]] {
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

}  // namespace vantor::py
