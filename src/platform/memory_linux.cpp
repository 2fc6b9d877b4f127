#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#include "platform/platform.hpp"

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23  // Linux 5.14; older headers lack the name
#endif

namespace vantor::platform {

void secure_zero(void* data, size_t size) noexcept { explicit_bzero(data, size); }

// Kernels before 5.14 refuse the request with EINVAL; the pages then fault in as usual.
void prefault_pages(void* data, size_t size) noexcept {
  const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + page - 1) & ~(page - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + size) & ~(page - 1);
  if (end > begin) (void)madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
}

}  // namespace vantor::platform
