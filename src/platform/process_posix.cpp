#include <pthread.h>

#include "platform/platform.hpp"

namespace vantor::platform {

int register_fork_child_handler(void (*handler)()) noexcept { return pthread_atfork(nullptr, nullptr, handler); }

}  // namespace vantor::platform
