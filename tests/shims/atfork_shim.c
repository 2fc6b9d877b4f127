/* Test-only LD_PRELOAD shim: makes fork-handler registration fail on demand.
 *
 * pthread_atfork() is linked into each shared object from libc_nonshared.a and calls glibc's
 * __register_atfork(), so that is the call interposed here. While SHIM_ATFORK_ERRNO holds a
 * number (read at every call, so a process can arm it through os.environ), a registration fails
 * with that error code and registers nothing; otherwise it passes through.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>

typedef int (*register_fn)(void (*)(void), void (*)(void), void (*)(void), void *);

int __register_atfork(void (*prepare)(void), void (*parent)(void), void (*child)(void), void *dso_handle) {
  const char *armed = getenv("SHIM_ATFORK_ERRNO");
  if (armed && *armed) return atoi(armed);
  static register_fn real;
  if (!real) real = (register_fn)dlsym(RTLD_NEXT, "__register_atfork");
  return real(prepare, parent, child, dso_handle);
}
