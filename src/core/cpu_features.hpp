// What the processor and the operating system let this process use, asked afresh on every call
// (callers cache the answer they act on). Each returns false on a processor where the question
// does not arise, so callers need no architecture checks of their own.
#pragma once

namespace vantor {

// x86-64: AVX2, with the YMM registers saved by the OS.
bool cpu_has_avx2() noexcept;
// x86-64: AVX-512 F and VL (and AVX2), with the ZMM registers, the upper sixteen of them and the
// mask registers saved by the OS.
bool cpu_has_avx512() noexcept;
// x86-64: the SHA extensions, plus the SSSE3 and SSE4.1 shuffles code using them needs.
bool cpu_has_sha_ni() noexcept;
// AArch64: Advanced SIMD (NEON).
bool cpu_has_asimd() noexcept;
// AArch64: the SHA1C/SHA1P/SHA1M/SHA1H/SHA1SU0/SHA1SU1 instructions.
bool cpu_has_arm_sha1() noexcept;

}  // namespace vantor
