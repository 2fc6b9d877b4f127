#include "time/node.hpp"

#include <vector>

#include "platform/platform.hpp"

namespace vantor {

namespace {

constinit NodeCache g_node_cache;

}  // namespace

uint64_t choose_node(std::span<const InterfaceEntry> entries) noexcept {
  uint64_t local = 0;
  for (const InterfaceEntry& entry : entries) {
    if (!entry.link_layer || entry.address == nullptr || entry.address_length < 6) continue;
    uint64_t node = 0;
    for (size_t i = 0; i < 6; ++i) node = (node << 8) | entry.address[i];
    if (node == 0) continue;
    if ((node & (uint64_t{0x02} << 40)) == 0) return node;
    if (local == 0) local = node;
  }
  return local;
}

std::optional<uint64_t> scan_host_interfaces() {
  std::vector<platform::HardwareAddress> addresses;
  if (!platform::list_hardware_addresses(addresses)) return std::nullopt;
  std::vector<InterfaceEntry> entries;
  entries.reserve(addresses.size());
  for (const platform::HardwareAddress& address : addresses)
    entries.push_back({true, address.octets, address.length});
  uint64_t node = choose_node(entries);
  if (node == 0) return std::nullopt;
  return node;
}

NodeCache& node_cache() noexcept { return g_node_cache; }

}  // namespace vantor
