// Everything the core asks of the operating system, behind one interface. Each service is
// implemented once per mechanism in src/platform/<service>_<mechanism>.cpp (getrandom, posix,
// win32, ...), and systems with the same mechanism share the file; the build lists each system's
// files, so nothing outside this folder tests which system it runs on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantor::platform {

// ---- Entropy --------------------------------------------------------------------------------

// Why a read of the system's random source failed.
struct EntropyError {
  enum class Kind : uint8_t {
    system_error,       // the system reported its error code `code`
    no_error_code,      // the call failed without saying why (errno 0 or negative)
    unexpected_result,  // the call returned something its contract rules out
  };
  Kind kind = Kind::system_error;
  int code = 0;  // for system_error: errno on Linux and macOS, an NTSTATUS on Windows

  // system_error: describe_system_error(code); the other kinds a fixed text.
  std::string text() const;

  friend bool operator==(const EntropyError&, const EntropyError&) = default;
};

// Fills dst[0..len) from the system's cryptographic random source (getrandom on Linux,
// getentropy on macOS, BCryptGenRandom on Windows). Interrupted calls are retried and short
// reads continued; any other failure ends the read: there is no fallback source.
std::optional<EntropyError> read_entropy(uint8_t* dst, size_t len) noexcept;

// ---- Wall clock -----------------------------------------------------------------------------

// The real-time clock as seconds and nanoseconds since 1970-01-01 00:00 UTC, in the system's own
// normal form (nanoseconds in [0, 10^9) where the system guarantees it; the caller checks).
struct WallClockReading {
  int64_t seconds = 0;
  int64_t nanoseconds = 0;
};

// 0 on success; otherwise an error code for error_text, and `out` is unspecified.
int read_wall_clock(WallClockReading& out) noexcept;

// The call read_wall_clock makes, as failure messages name it, e.g.
// "clock_gettime(CLOCK_REALTIME)".
const char* wall_clock_call() noexcept;

// ---- Network interfaces ---------------------------------------------------------------------

// The first octets of one interface's hardware (link-layer) address, as the system lists them.
struct HardwareAddress {
  static constexpr size_t kMaxOctets = 8;
  uint8_t octets[kMaxOctets] = {};
  size_t length = 0;  // octets the system reported, at most kMaxOctets
};

// Appends the hardware address of each of this host's interfaces to `out`, in the system's
// order; interfaces without one (loopback, tunnels) may be listed with length 0 or left out.
// False if the interfaces cannot be listed at all.
bool list_hardware_addresses(std::vector<HardwareAddress>& out);

// ---- Per-thread values ----------------------------------------------------------------------

// A failed system call: its name and the system's error code (for describe_system_error).
struct SystemCallError {
  const char* call;
  int code;
};

// A key under which each thread keeps one pointer of its own. When a thread that set a non-null
// value exits, the key's destructor runs with that value, after the thread's C++ thread_local
// destructors: those may still set a new value, and the destructor then runs again for it.
struct ThreadKey {
  uintptr_t id = 0;
};

std::optional<SystemCallError> create_thread_key(ThreadKey& key, void (*destructor)(void*)) noexcept;
void delete_thread_key(ThreadKey key) noexcept;
// Sets the calling thread's value for `key`.
std::optional<SystemCallError> set_thread_value(ThreadKey key, void* value) noexcept;

// On a thread_local that the hot path reads: initial-exec makes a read a load relative to the
// thread pointer (plus one GOT load in position-independent code) instead of a call to
// __tls_get_addr, also when the core is linked into a shared object. glibc keeps spare static TLS
// room for libraries loaded with dlopen, as extension modules are; musl has none and refuses to
// load such a library ("initial-exec TLS resolves to dynamic definition"), so elsewhere the
// default model is used.
#if defined(__GLIBC__)
#define VANTOR_TLS_MODEL __attribute__((tls_model("initial-exec")))
#else
#define VANTOR_TLS_MODEL
#endif

// ---- Processes ------------------------------------------------------------------------------

// Has `handler` run in the child after every fork() of this process. 0 on success, else an
// error code. Where processes are never forked (Windows) it does nothing and returns 0.
int register_fork_child_handler(void (*handler)()) noexcept;

// ---- Memory ---------------------------------------------------------------------------------

// Sets `size` bytes at `data` to zero in a way the compiler may not drop as a dead store.
void secure_zero(void* data, size_t size) noexcept;

// A hint that [data, data + size), memory about to be written in full, is better mapped in large
// pages (2 MiB on x86-64): one fault then maps 512 times as much. Ignored where the system offers
// no such pages or maps them on its own terms.
void advise_huge_pages(void* data, size_t size) noexcept;

// Whether the pages of [data, data + size) look mapped already, judged by a few of them (first,
// middle, last). False where the system cannot say.
bool pages_resident(const void* data, size_t size) noexcept;

// ---- Errors ---------------------------------------------------------------------------------

// The system's message for an error code returned by these functions (errno on Linux and macOS,
// a Win32 or NTSTATUS code on Windows); "Unknown error N" if the system has none.
std::string error_text(int code);

// A system error code with its description: error_text(code), then " (os error N)", e.g.
// "Input/output error (os error 5)".
std::string describe_system_error(int code);

// ---- Processor features the system reports --------------------------------------------------

// What the system lets user space execute on an AArch64 processor. On Linux the kernel's HWCAP
// says; elsewhere the system's own interface, or only what every AArch64 system guarantees.
// All false on other processors.
struct ArmFeatures {
  bool asimd = false;  // Advanced SIMD (NEON)
  bool sha1 = false;   // SHA1C/SHA1P/SHA1M/SHA1H/SHA1SU0/SHA1SU1
};
ArmFeatures arm_features() noexcept;

}  // namespace vantor::platform
