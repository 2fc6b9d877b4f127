#include <windows.h>

#include "platform/platform.hpp"

namespace vantor::platform {

void secure_zero(void* data, size_t size) noexcept { SecureZeroMemory(data, size); }

// Large pages need a privilege and memory allocated for them; memory from the heap cannot have
// them afterwards.
void advise_huge_pages(void*, size_t) noexcept {}

bool pages_resident(const void*, size_t) noexcept { return false; }

}  // namespace vantor::platform
