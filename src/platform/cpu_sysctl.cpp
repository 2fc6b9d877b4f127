#include <sys/sysctl.h>

#include "platform/platform.hpp"

namespace vantor::platform {

#if defined(__aarch64__)
namespace {

bool sysctl_flag(const char* name) noexcept {
  int value = 0;
  size_t size = sizeof value;
  return sysctlbyname(name, &value, &size, nullptr, 0) == 0 && value != 0;
}

}  // namespace

// Every Apple AArch64 processor has NEON; the system names the optional instructions.
ArmFeatures arm_features() noexcept { return {true, sysctl_flag("hw.optional.arm.FEAT_SHA1")}; }
#else
ArmFeatures arm_features() noexcept { return {}; }
#endif

}  // namespace vantor::platform
