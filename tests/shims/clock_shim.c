// Test-only LD_PRELOAD library: replaces what clock_gettime(CLOCK_REALTIME) reads, so that tests
// can freeze the wall clock, put it before 1970 or step it back. Every other clock is passed to
// the real clock_gettime, so the interpreter's timers keep working.
//
// CLOCK_SHIM_NS: comma-separated signed nanoseconds since the Unix epoch, e.g. "-1500000000" or
//   "1700000000000000000,1699999999998000000". Entries may exceed 64 bits (the 48-bit
//   millisecond limit of version 7 lies near 2.8e20 ns). Each CLOCK_REALTIME reading takes the next entry;
//   the last one is repeated from then on. Unset or empty: the real clock.
//
// The interpreter itself reads the wall clock while starting, which would use up entries, so a
// test can also replace the readings at run time through these exported functions (ctypes finds
// them with CDLL(None), as the preloaded library is in the global scope):
//   int clock_shim_set(const char *list)  same format as CLOCK_SHIM_NS; NULL or "" for the real
//                                         clock; starts at the first entry. Returns 0, or -1 if
//                                         the list does not parse (nothing is changed then).
//   long long clock_shim_reads(void)      CLOCK_REALTIME readings answered since the last set.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#define MAX_READINGS 256

typedef int (*clock_gettime_fn)(clockid_t, struct timespec *);

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
typedef __int128 nanos_t;

static nanos_t readings[MAX_READINGS];
static int reading_count = 0;  // 0: pass CLOCK_REALTIME through as well
static int next_reading = 0;
static long long answered = 0;
static int loaded_from_env = 0;

static clock_gettime_fn real_clock_gettime(void) {
  static clock_gettime_fn real = NULL;
  if (real == NULL) real = (clock_gettime_fn)dlsym(RTLD_NEXT, "clock_gettime");
  return real;
}

// Parses one signed decimal at `p` into `out`; returns the end, or NULL when there is no number
// or it does not fit in 120 bits.
static const char *parse_nanos(const char *p, nanos_t *out) {
  int negative = 0;
  if (*p == '-' || *p == '+') negative = *p++ == '-';
  if (*p < '0' || *p > '9') return NULL;
  nanos_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (value > ((nanos_t)1 << 120) / 10) return NULL;
    value = value * 10 + (*p - '0');
  }
  *out = negative ? -value : value;
  return p;
}

// Parses `list` into `out`; returns the number of entries or -1.
static int parse_list(const char *list, nanos_t *out) {
  int count = 0;
  const char *p = list;
  if (p == NULL || *p == '\0') return 0;
  for (;;) {
    if (count == MAX_READINGS) return -1;
    const char *end = parse_nanos(p, &out[count]);
    if (end == NULL) return -1;
    ++count;
    if (*end == '\0') return count;
    if (*end != ',') return -1;
    p = end + 1;
  }
}

// Caller holds `lock`.
static void load_env_once(void) {
  if (loaded_from_env) return;
  loaded_from_env = 1;
  int count = parse_list(getenv("CLOCK_SHIM_NS"), readings);
  reading_count = count < 0 ? 0 : count;
}

int clock_shim_set(const char *list) {
  nanos_t parsed[MAX_READINGS];
  int count = parse_list(list, parsed);
  if (count < 0) return -1;
  pthread_mutex_lock(&lock);
  loaded_from_env = 1;
  memcpy(readings, parsed, sizeof(nanos_t) * (size_t)count);
  reading_count = count;
  next_reading = 0;
  answered = 0;
  pthread_mutex_unlock(&lock);
  return 0;
}

long long clock_shim_reads(void) {
  pthread_mutex_lock(&lock);
  long long result = answered;
  pthread_mutex_unlock(&lock);
  return result;
}

int clock_gettime(clockid_t clock, struct timespec *tp) {
  if (clock == CLOCK_REALTIME) {
    pthread_mutex_lock(&lock);
    load_env_once();
    if (reading_count > 0) {
      nanos_t ns = readings[next_reading];
      if (next_reading + 1 < reading_count) ++next_reading;
      ++answered;
      pthread_mutex_unlock(&lock);
      // Normalised like the kernel's readings: 0 <= tv_nsec < 10^9, also before the epoch.
      nanos_t seconds = ns / 1000000000LL;
      long nanos = (long)(ns % 1000000000LL);
      if (nanos < 0) {
        nanos += 1000000000LL;
        seconds -= 1;
      }
      tp->tv_sec = (time_t)seconds;
      tp->tv_nsec = nanos;
      return 0;
    }
    pthread_mutex_unlock(&lock);
  }
  clock_gettime_fn real = real_clock_gettime();
  if (real == NULL) {
    errno = ENOSYS;
    return -1;
  }
  return real(clock, tp);
}
