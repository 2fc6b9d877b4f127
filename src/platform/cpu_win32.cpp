#include <windows.h>

#include "platform/platform.hpp"

namespace vantor::platform {

#if defined(__aarch64__)
// NEON is part of every Windows on Arm system; the crypto extensions (SHA-1 among them) are
// reported as one feature.
ArmFeatures arm_features() noexcept {
  return {true, IsProcessorFeaturePresent(PF_ARM_V8_CRYPTO_INSTRUCTIONS_AVAILABLE) != 0};
}
#else
ArmFeatures arm_features() noexcept { return {}; }
#endif

}  // namespace vantor::platform
