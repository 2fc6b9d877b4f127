// Threads and the interpreter, for both modules of the shared object: the only place that lets the
// interpreter go (the GIL, or the attachment of a free-threaded build), and the primitives that
// share process-wide state between threads.
//
// Why one place: on 3.12 and 3.13 a thread that asks for the GIL once the interpreter has begun to
// finalize is ended with pthread_exit, whose forced unwind runs through whatever C++ frames lie
// below it. The exit protocol (3.12 and 3.13 only; 3.14 parks such a thread itself) keeps that
// away from our own waits:
//
// - An atexit callback, run by the thread that finalizes, marks the process "closing". atexit runs
//   after the non-daemon threads are joined and before the interpreter marks itself finalizing, so
//   every other thread still running is a daemon one.
// - From then on a daemon thread never takes the GIL back inside our code: one that gives it up, or
//   would take it back, parks for good instead, as 3.14 does by itself. Only a thread caught between
//   deciding to take the GIL back and having it (a short handoff) is waited for, with a bound.
// - A daemon thread inside Python code that one of our calls runs (an __index__, a generator) may
//   still be ended by pthread_exit. The entry wrappers let that unwind pass, and while closing, such
//   a thread's references are dropped without touching the objects (see Ref), as it may not hold
//   the GIL any more.
// - A manual atexit._run_exitfuncs() (which a Python caller's frame reveals) does not close; the
//   callback is registered again before the next release, and again by every module execution
//   (a new interpreter after a finalize), which also ends "closing".
//
// Long work runs in pieces. Between two pieces the thread that receives signals (the main one)
// takes the GIL back, every 20 ms at most, and runs the pending handlers: Ctrl-C is seen within
// a few tens of milliseconds, while another thread running Python code (which holds the GIL
// until its switch interval ends) costs the work a wait only that often.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <mutex>

#include "module/boundary.hpp"

namespace vantor::py {

// Registers the exit callback (3.12, 3.13) and the after-fork reset, and ends a "closing" left by
// an earlier interpreter. Called by the execution step of each module, in the main interpreter
// only.
Status install_gil_exit_hook();

// Registers the exit callback again if a manual atexit run has consumed it. Cheap once registered.
Status ensure_gil_exit_hook();

// The GIL released for the lifetime of the object. Constructed and destroyed with the GIL held by
// the calling thread. A daemon thread of a closing process parks in either instead.
class GilReleased {
 public:
  GilReleased() noexcept { release(); }
  // Not noexcept: if the interpreter ends this thread while it takes the GIL back (the exit
  // callback never ran), that unwind must pass.
  ~GilReleased() noexcept(false) { retake(); }
  GilReleased(const GilReleased&) = delete;
  GilReleased& operator=(const GilReleased&) = delete;

  // Between two pieces of work: runs pending signal handlers (in the thread that receives
  // signals, with the GIL taken back for the purpose) and returns their exception. The GIL is
  // then released again, unless a handler failed.
  Status checkpoint();

 private:
  void release() noexcept;
  void retake();

  PyThreadState* state_ = nullptr;  // while released
  bool handles_signals_ = false;
  std::chrono::steady_clock::time_point next_check_{};
};

// Between two pieces of work done with the GIL held (objects being built): runs pending signal
// handlers and returns their exception, then lets the GIL go for a moment so that the threads
// waiting for it can run.
Status checkpoint_with_gil();

// Runs work(first, count) -> Status over [0, n) in pieces of at most `piece`, without the GIL
// when `release` is true, and with a checkpoint between pieces. Stops at the first failure.
template <class Work>
Status run_in_pieces(size_t n, size_t piece, bool release, Work&& work) {
  VANTOR_CHECK(ensure_gil_exit_hook());
  if (!release) {
    for (size_t done = 0; done < n; done += piece) {
      if (done != 0) VANTOR_CHECK(checkpoint_with_gil());
      VANTOR_CHECK(work(done, n - done < piece ? n - done : piece));
    }
    return {};
  }
  GilReleased released;
  for (size_t done = 0; done < n; done += piece) {
    if (done != 0) VANTOR_CHECK(released.checkpoint());
    VANTOR_CHECK(work(done, n - done < piece ? n - done : piece));
  }
  return {};
}

// Takes `mutex` holding the GIL (attached, on a free-threaded build), never waiting for it so: a
// free lock is taken at once; for a held one the thread waits detached, then attaches and tries
// again, as CPython's own PyMutex does. So neither the GIL's holder nor a free-threaded
// stop-the-world pause waits for this thread, and a thread that the interpreter parks for good
// while it attaches (3.14 during finalization) parks holding nothing. No Python object may be
// touched while the lock is held. Uncontended, it costs one try-lock.
std::unique_lock<std::mutex> lock_detached(std::mutex& mutex);

// Process-wide objects made on first use, without the GIL's help on free-threaded builds: each
// thread that finds the cell empty makes an object, the first one stored stays, and the others
// are released. Nobody waits, so no lock can meet a stop-the-world pause. A hot path's check is
// one acquire load, a plain load on x86-64.
PyObject* publish_once(std::atomic<PyObject*>& cell, PyObject* created);

// For a long-lived object that every thread uses (a module function, a descriptor of the UUID
// class): on a free-threaded 3.14 or later, the interpreter then skips the reference counting of
// the references it holds on its own stack, which would otherwise have every calling thread write
// to the object's shared count. The collector frees such an object, which is the case for these
// anyway. Nothing on a GIL build.
inline void share_between_threads([[maybe_unused]] PyObject* object) noexcept {
#if defined(Py_GIL_DISABLED) && PY_VERSION_HEX >= 0x030E0000
  PyUnstable_Object_EnableDeferredRefcount(object);
#endif
}

}  // namespace vantor::py
