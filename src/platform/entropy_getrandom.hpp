// The read loop behind read_entropy where getrandom(2) is the source, open to tests that stand
// in for it.
#pragma once

#include <sys/types.h>

#include "platform/platform.hpp"

namespace vantor::platform {

// The contract of getrandom(2): fills up to `len` bytes and returns how many, or -1 with errno.
using GetrandomFn = ssize_t (*)(void* buf, size_t len, unsigned flags);

// Fills dst[0..len) through `fn`, continuing after short reads and retrying calls interrupted
// by a signal. Any other failure ends the read.
std::optional<EntropyError> read_entropy_with(GetrandomFn fn, uint8_t* dst, size_t len) noexcept;

}  // namespace vantor::platform
