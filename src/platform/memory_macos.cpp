#define __STDC_WANT_LIB_EXT1__ 1  // memset_s
#include <string.h>

#include "platform/platform.hpp"

namespace vantor::platform {

// memset_s (C11 Annex K) may not be optimised away; macOS has no explicit_bzero.
void secure_zero(void* data, size_t size) noexcept { (void)memset_s(data, size, 0, size); }

// The system decides on large pages itself; there is no request for them.
void advise_huge_pages(void*, size_t) noexcept {}

bool pages_resident(const void*, size_t) noexcept { return false; }

}  // namespace vantor::platform
