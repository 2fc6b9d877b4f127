// Force-included into every translation unit of the module and the core (see CMakeLists.txt).
//
// glibc 2.34 moved the pthread functions from libpthread into libc and gave them a new symbol
// version, so code linked against a newer glibc asks for GLIBC_2.34 and will not load on older
// systems, although the functions themselves have not changed. Binding the references to the
// original versions keeps the module loadable down to the glibc its other calls need. Older
// glibc defines these versions in libpthread, which the module lists as a dependency.
#pragma once

#if defined(__linux__) && !defined(__ASSEMBLER__)
#include <features.h>
// (Nested: on musl, __GLIBC_PREREQ is not defined, and an undefined function-like macro is an
// error even behind a false &&.)
#if defined(__GLIBC__)
#if __GLIBC_PREREQ(2, 34)

#if defined(__x86_64__)
#define VANTOR_GLIBC_BASE "GLIBC_2.2.5"
#elif defined(__aarch64__)
#define VANTOR_GLIBC_BASE "GLIBC_2.17"
#endif

#ifdef VANTOR_GLIBC_BASE
#define VANTOR_PIN_GLIBC(name) __asm__(".symver " #name "," #name "@" VANTOR_GLIBC_BASE);
VANTOR_PIN_GLIBC(pthread_once)
VANTOR_PIN_GLIBC(pthread_key_create)
VANTOR_PIN_GLIBC(pthread_key_delete)
VANTOR_PIN_GLIBC(pthread_getspecific)
VANTOR_PIN_GLIBC(pthread_setspecific)
VANTOR_PIN_GLIBC(pthread_mutex_trylock)
VANTOR_PIN_GLIBC(pthread_mutexattr_init)
VANTOR_PIN_GLIBC(pthread_mutexattr_destroy)
VANTOR_PIN_GLIBC(pthread_mutexattr_settype)
VANTOR_PIN_GLIBC(pthread_create)
VANTOR_PIN_GLIBC(pthread_join)
VANTOR_PIN_GLIBC(pthread_detach)
#undef VANTOR_PIN_GLIBC
#undef VANTOR_GLIBC_BASE
#endif

#endif
#endif
#endif
