#include <pthread.h>

#include <optional>
#include <type_traits>

#include "platform/platform.hpp"

namespace vantor::platform {

// A pthread key, also on Windows, where the toolchain's threads library provides it.
static_assert(std::is_integral_v<pthread_key_t> && sizeof(pthread_key_t) <= sizeof(uintptr_t));

std::optional<SystemCallError> create_thread_key(ThreadKey& key, void (*destructor)(void*)) noexcept {
  pthread_key_t created;
  if (int err = pthread_key_create(&created, destructor)) return SystemCallError{"pthread_key_create", err};
  key.id = static_cast<uintptr_t>(created);
  return std::nullopt;
}

void delete_thread_key(ThreadKey key) noexcept { (void)pthread_key_delete(static_cast<pthread_key_t>(key.id)); }

std::optional<SystemCallError> set_thread_value(ThreadKey key, void* value) noexcept {
  if (int err = pthread_setspecific(static_cast<pthread_key_t>(key.id), value)) {
    return SystemCallError{"pthread_setspecific", err};
  }
  return std::nullopt;
}

}  // namespace vantor::platform
