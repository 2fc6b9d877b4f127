// Random UUIDs in bulk, straight from a generator's keystream: the version and variant bits are
// set on each piece of output while it is still in the first-level cache, and large buffers that
// are already mapped can be written past the caches.
#pragma once

#include <cstddef>
#include <cstdint>

#include "random/thread_rng.hpp"

namespace vantor {

// How fill_uuid4_values writes its output.
enum class Stores : uint8_t {
  cached,     // plain stores: the output stays in the caches for whoever reads it next
  streaming,  // non-temporal where the processor has them: no cache line read for ownership
};

// Writes `count` version-4 UUIDs to out[0 .. 16 * count): the next 16 * count bytes of `rng`'s
// keystream, in order, with the version and variant bits set. Fails like ThreadRng::fill_bytes.
void fill_uuid4_values(ThreadRng& rng, uint8_t* out, size_t count, Stores stores);

// Whether a buffer lent to be filled is better written with non-temporal stores: one much larger
// than the caches whose pages are already mapped. Over pages that are not, each first write
// faults anyway, and plain stores into the freshly zeroed page do better.
bool prefer_streaming_stores(const uint8_t* out, size_t size) noexcept;

}  // namespace vantor
