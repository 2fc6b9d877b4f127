// Native work without the GIL, for both modules of the shared object: the only place that
// releases it.
//
// Why one place: on 3.12 and 3.13 a thread that takes the GIL back once the interpreter has begun
// to finalize is ended with pthread_exit. That unwinds the C++ stack through our noexcept entry
// wrappers and destructors, and the process aborts; letting it unwind instead would run our
// destructors without the GIL. So no thread may ever wait for the GIL inside our code once
// finalization has begun, and that takes one shared count of the threads that are out:
//
// - Every release goes through GilReleased, which counts the threads currently without the GIL.
// - An atexit callback (atexit runs after the non-daemon threads are joined and before the
//   interpreter marks itself finalizing) sets "closing", lets the GIL go, waits until the count
//   is zero and takes the GIL back. From then on nothing is released: a daemon thread runs its
//   work with the GIL held, so none is ever parked in the interpreter's wait for it.
// - Should the interpreter finalize anyway (the callback was removed, or never ran), a thread
//   that finds it finalizing before taking the GIL back parks for good, as 3.14 does by itself.
//
// Long work runs in pieces. Between two pieces the thread that receives signals (the main one)
// takes the GIL back, every 20 ms at most, and runs the pending handlers: Ctrl-C is seen within
// a few tens of milliseconds, while another thread running Python code (which holds the GIL
// until its switch interval ends) costs the work a wait only that often. Other threads only look
// at "closing" there.
#pragma once

#include <chrono>
#include <cstddef>

#include "module/boundary.hpp"

namespace vantor::py {

// Registers the atexit callback and the after-fork reset, once per process. Called by the
// execution step of each module, in the main interpreter only.
Status install_gil_exit_hook();

// The GIL released for the lifetime of the object, unless the interpreter is closing (then the
// work runs with it held). Constructed and destroyed with the GIL held by the calling thread.
class GilReleased {
 public:
  GilReleased() noexcept { release(); }
  ~GilReleased() { retake(); }  // also while an internal failure unwinds
  GilReleased(const GilReleased&) = delete;
  GilReleased& operator=(const GilReleased&) = delete;

  // Between two pieces of work: runs pending signal handlers (in the thread that receives
  // signals, with the GIL taken back for the purpose) and returns their exception. The GIL is
  // then released again, unless the interpreter is closing or a handler failed.
  Status checkpoint();

 private:
  void release() noexcept;
  void retake() noexcept;

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

}  // namespace vantor::py
