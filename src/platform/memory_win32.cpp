#include <windows.h>

#include "platform/platform.hpp"

namespace vantor::platform {

void secure_zero(void* data, size_t size) noexcept { SecureZeroMemory(data, size); }

// Committed memory is mapped on first touch, with no call to map a range ahead.
void prefault_pages(void*, size_t) noexcept {}

}  // namespace vantor::platform
