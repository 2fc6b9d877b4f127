#include "platform/platform.hpp"

#if defined(__aarch64__)
#include <sys/auxv.h>
#endif

namespace vantor::platform {

#if defined(__aarch64__)
// The kernel reports what user space may execute, whatever the CPU registers say. The SHA-1
// code also uses plain NEON instructions, so it needs both bits.
ArmFeatures arm_features() noexcept {
  const unsigned long hwcap = getauxval(AT_HWCAP);
  const bool asimd = (hwcap & HWCAP_ASIMD) != 0;
  return {asimd, asimd && (hwcap & HWCAP_SHA1) != 0};
}
#else
ArmFeatures arm_features() noexcept { return {}; }
#endif

}  // namespace vantor::platform
