// The 48-bit node of versions 1 and 6 when the caller gives none: a hardware address of this host
// if there is a usable one, otherwise a random value with the multicast bit set, so that it can
// never equal a real interface's address. Determined once per process.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace vantor {

struct InterfaceEntry {
  bool link_layer;         // `address` is a hardware address
  const uint8_t* address;  // may be null when address_length is 0
  size_t address_length;
};

// The first universally administered address (0x02 of the first octet clear), else the first
// locally administered one, else 0. Entries that are not link-layer, shorter than six octets or
// whose first six octets are all zero (loopback) are skipped; longer addresses give their first
// six octets.
uint64_t choose_node(std::span<const InterfaceEntry> entries) noexcept;

// choose_node() over the hardware addresses of this host's interfaces; nullopt if they
// cannot be listed or none is usable.
std::optional<uint64_t> scan_host_interfaces();

// Six draws, the low octet of each in draw order, most significant first; the multicast bit
// (bit 40) is set.
template <class Draw32>
uint64_t random_node(Draw32&& draw_u32) {
  uint64_t node = 0;
  for (int i = 0; i < 6; ++i) node = (node << 8) | static_cast<uint8_t>(draw_u32());
  return node | (uint64_t{1} << 40);
}

// Remembers the first node determined; 0 means none yet, which no determined node can be (a
// scanned address has a non-zero octet, a random one has the multicast bit).
class NodeCache {
 public:
  constexpr NodeCache() noexcept = default;
  NodeCache(const NodeCache&) = delete;
  NodeCache& operator=(const NodeCache&) = delete;

  template <class Scan, class Draw32>
  uint64_t get(Scan&& scan, Draw32&& draw_u32) {
    uint64_t node = node_.load(std::memory_order_relaxed);
    if (node != 0) return node;
    std::optional<uint64_t> scanned = scan();
    node = scanned ? *scanned : random_node(draw_u32);
    // Should two threads race here, the first store wins and both return it.
    uint64_t expected = 0;
    if (!node_.compare_exchange_strong(expected, node, std::memory_order_relaxed)) return expected;
    return node;
  }

 private:
  std::atomic<uint64_t> node_{0};
};

NodeCache& node_cache() noexcept;

template <class Draw32>
uint64_t default_node(Draw32&& draw_u32) {
  return node_cache().get(scan_host_interfaces, draw_u32);
}

}  // namespace vantor
