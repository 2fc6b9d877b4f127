/* Test-only LD_PRELOAD shim: makes fork-handler registration fail on demand.
 *
 * With glibc, pthread_atfork() is linked into each shared object from libc_nonshared.a and calls
 * glibc's __register_atfork(), so that is the call interposed there. musl's pthread_atfork() is an
 * ordinary libc function, interposed as itself. While SHIM_ATFORK_ERRNO holds a number (read at
 * every call, so a process can arm it through os.environ), a registration fails with that error
 * code and registers nothing; otherwise it passes through.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>

typedef int (*register_fn)(void (*)(void), void (*)(void), void (*)(void), void *);
typedef int (*atfork_fn)(void (*)(void), void (*)(void), void (*)(void));

static int armed_error(void) {
  const char *armed = getenv("SHIM_ATFORK_ERRNO");
  return armed && *armed ? atoi(armed) : 0;
}

int __register_atfork(void (*prepare)(void), void (*parent)(void), void (*child)(void), void *dso_handle) {
  int error = armed_error();
  if (error) return error;
  static register_fn real;
  if (!real) real = (register_fn)dlsym(RTLD_NEXT, "__register_atfork");
  return real(prepare, parent, child, dso_handle);
}

int pthread_atfork(void (*prepare)(void), void (*parent)(void), void (*child)(void)) {
  int error = armed_error();
  if (error) return error;
  static atfork_fn real;
  if (!real) real = (atfork_fn)dlsym(RTLD_NEXT, "pthread_atfork");
  /* glibc exports no pthread_atfork to look up: a caller bound to this one (an old binary that
     imported it) registers through glibc's own entry point. */
  if (!real) return __register_atfork(prepare, parent, child, NULL);
  return real(prepare, parent, child);
}
