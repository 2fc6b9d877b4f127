#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#include "platform/platform.hpp"

namespace vantor::platform {

void secure_zero(void* data, size_t size) noexcept { explicit_bzero(data, size); }

// Transparent huge pages are often enabled for advised ranges only ("madvise" in
// /sys/kernel/mm/transparent_hugepage/enabled); only whole 2 MiB-aligned pieces of the range can
// be mapped so. A kernel without them refuses with EINVAL, and the pages come in as usual.
void advise_huge_pages(void* data, size_t size) noexcept {
  constexpr uintptr_t kHuge = uintptr_t{2} << 20;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + size) & ~(kHuge - 1);
  if (end > begin) (void)madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

bool pages_resident(const void* data, size_t size) noexcept {
  if (size == 0) return true;
  const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t start = reinterpret_cast<uintptr_t>(data);
  for (uintptr_t at : {start, start + size / 2, start + size - 1}) {
    unsigned char resident = 0;
    if (mincore(reinterpret_cast<void*>(at & ~(page - 1)), 1, &resident) != 0 || (resident & 1) == 0) return false;
  }
  return true;
}

}  // namespace vantor::platform
