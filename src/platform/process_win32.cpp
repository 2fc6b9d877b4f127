#include "platform/platform.hpp"

namespace vantor::platform {

// Windows has no fork(): a new process starts from scratch and draws its own state.
int register_fork_child_handler(void (*)()) noexcept { return 0; }

}  // namespace vantor::platform
