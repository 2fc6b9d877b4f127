#define __STDC_WANT_LIB_EXT1__ 1  // memset_s
#include <string.h>

#include "platform/platform.hpp"

namespace vantor::platform {

// memset_s (C11 Annex K) may not be optimised away; macOS has no explicit_bzero.
void secure_zero(void* data, size_t size) noexcept { (void)memset_s(data, size, 0, size); }

void prefault_pages(void*, size_t) noexcept {}

}  // namespace vantor::platform
