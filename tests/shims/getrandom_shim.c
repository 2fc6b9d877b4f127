/* Test-only LD_PRELOAD shim: interposes getrandom(3) so that tests can make the operating
 * system's entropy source misbehave in chosen ways, and can see each call it receives.
 *
 * SHIM_GETRANDOM holds a script: actions separated by commas, applied to successive calls; once
 * the script is used up, calls pass through to the real getrandom. The shim reads the variable
 * at every call, so a process can arm it (or change the script) at the moment it wants through
 * os.environ; a new value restarts the script from its first action, and an unset or empty value
 * passes everything through. Calls made before arming (interpreter start-up) are not affected.
 *
 * An action is NAME[=VALUE][:COUNT]. COUNT (default 1) is how many successive calls it covers;
 * COUNT '*' covers every call from then on.
 *   pass       the real getrandom
 *   eintr      -1 with errno EINTR, nothing written
 *   errno=N    -1 with errno N (N may be 0), nothing written
 *   short=N    the real getrandom asked for at most N bytes (N >= 1)
 *   ret=N      returns N without writing anything (0 and len+1 are results the kernel never gives)
 *   over       returns the requested length plus one, nothing written
 *   block      never returns, as getrandom blocks before the kernel's pool is initialised
 * Example: "eintr:2,short=5:3,errno=5:*".
 *
 * SHIM_GETRANDOM_LOG names a file to which every call appends "PID LEN RESULT\n".
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/random.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

enum kind { K_PASS, K_ERRNO, K_SHORT, K_RET, K_OVER, K_BLOCK };

struct action {
  enum kind kind;
  long value;
  long count; /* -1: forever */
};

#define MAX_ACTIONS 64
#define MAX_SCRIPT 1024

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static char seen[MAX_SCRIPT]; /* the script text the state below belongs to */
static int armed;
static struct action actions[MAX_ACTIONS];
static int n_actions;
static int current;     /* index of the action for the next call */
static long used;       /* calls the current action has covered so far */

/* A script the shim cannot read is a broken test: say so loudly rather than pass through. */
static void bad_script(const char *script) {
  fprintf(stderr, "getrandom_shim: cannot parse SHIM_GETRANDOM=%s\n", script);
  abort();
}

static void parse(const char *script) {
  char copy[MAX_SCRIPT];
  n_actions = 0;
  current = 0;
  used = 0;
  if (strlen(script) >= sizeof copy) bad_script(script);
  strcpy(copy, script);
  char *save = NULL;
  for (char *item = strtok_r(copy, ",", &save); item; item = strtok_r(NULL, ",", &save)) {
    if (n_actions == MAX_ACTIONS) bad_script(script);
    struct action a = {K_PASS, 0, 1};
    char *colon = strchr(item, ':');
    if (colon) {
      *colon = '\0';
      if (strcmp(colon + 1, "*") == 0) {
        a.count = -1;
      } else {
        char *end;
        a.count = strtol(colon + 1, &end, 10);
        if (*end || a.count < 1) bad_script(script);
      }
    }
    char *eq = strchr(item, '=');
    if (eq) {
      *eq = '\0';
      char *end;
      a.value = strtol(eq + 1, &end, 10);
      if (*end || eq[1] == '\0') bad_script(script);
    }
    if (strcmp(item, "pass") == 0 && !eq) a.kind = K_PASS;
    else if (strcmp(item, "eintr") == 0 && !eq) a.kind = K_ERRNO, a.value = EINTR;
    else if (strcmp(item, "errno") == 0 && eq) a.kind = K_ERRNO;
    else if (strcmp(item, "short") == 0 && eq && a.value >= 1) a.kind = K_SHORT;
    else if (strcmp(item, "ret") == 0 && eq) a.kind = K_RET;
    else if (strcmp(item, "over") == 0 && !eq) a.kind = K_OVER;
    else if (strcmp(item, "block") == 0 && !eq) a.kind = K_BLOCK;
    else bad_script(script);
    actions[n_actions++] = a;
  }
}

/* The action for this call, advancing the script. */
static struct action next_action(void) {
  struct action pass = {K_PASS, 0, 1};
  const char *script = getenv("SHIM_GETRANDOM");
  if (!script) script = "";
  pthread_mutex_lock(&lock);
  if (!armed || strcmp(script, seen) != 0) {
    if (strlen(script) >= sizeof seen) bad_script(script);
    strcpy(seen, script);
    armed = 1;
    parse(script);
  }
  struct action a = pass;
  if (current < n_actions) {
    a = actions[current];
    if (a.count >= 0 && ++used >= a.count) {
      ++current;
      used = 0;
    }
  }
  pthread_mutex_unlock(&lock);
  return a;
}

static void log_call(size_t len, ssize_t result) {
  const char *path = getenv("SHIM_GETRANDOM_LOG");
  if (!path || !*path) return;
  int saved = errno;
  int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd >= 0) {
    char line[96];
    int n = snprintf(line, sizeof line, "%ld %zu %zd\n", (long)getpid(), len, result);
    /* One write with O_APPEND: lines from several threads or processes do not interleave. */
    if (write(fd, line, (size_t)n) < 0) { /* nothing useful to do */ }
    close(fd);
  }
  errno = saved;
}

static ssize_t real_getrandom(void *buf, size_t len, unsigned flags) {
  typedef ssize_t (*fn_t)(void *, size_t, unsigned);
  static fn_t real;
  if (!real) real = (fn_t)dlsym(RTLD_NEXT, "getrandom");
  if (real) return real(buf, len, flags);
  return syscall(SYS_getrandom, buf, len, flags);
}

ssize_t getrandom(void *buf, size_t len, unsigned flags) {
  struct action a = next_action();
  ssize_t result;
  int err = 0;
  switch (a.kind) {
    case K_ERRNO:
      result = -1;
      err = (int)a.value;
      break;
    case K_SHORT:
      result = real_getrandom(buf, len < (size_t)a.value ? len : (size_t)a.value, flags);
      err = errno;
      break;
    case K_RET:
      result = a.value;
      break;
    case K_OVER:
      result = (ssize_t)len + 1;
      break;
    case K_BLOCK:
      log_call(len, 0);
      for (;;) pause();
    default:
      result = real_getrandom(buf, len, flags);
      err = errno;
      break;
  }
  log_call(len, result);
  errno = err;
  return result;
}
