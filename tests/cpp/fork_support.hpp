// fork() and waiting for a child, where the system has them. Tests of what a forked child sees
// are compiled only there (VANTOR_TEST_HAVE_FORK) and skip elsewhere (Windows has no fork).
#pragma once

#if __has_include(<sys/wait.h>)
#include <sys/wait.h>
#include <unistd.h>
#define VANTOR_TEST_HAVE_FORK 1
#else
#define VANTOR_TEST_HAVE_FORK 0
#endif

#define VANTOR_TEST_NO_FORK_REASON "this system has no fork()"
