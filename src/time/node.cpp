#include "time/node.hpp"

#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <sys/socket.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace vantor {

namespace {

constinit NodeCache g_node_cache;

struct FreeIfaddrs {
  void operator()(ifaddrs* list) const noexcept { freeifaddrs(list); }
};

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
  ifaddrs* raw = nullptr;
  if (getifaddrs(&raw) != 0) return std::nullopt;
  std::unique_ptr<ifaddrs, FreeIfaddrs> list(raw);

  std::vector<InterfaceEntry> entries;
  for (const ifaddrs* item = list.get(); item != nullptr; item = item->ifa_next) {
    if (item->ifa_addr == nullptr || item->ifa_addr->sa_family != AF_PACKET) continue;
    const auto* link = reinterpret_cast<const sockaddr_ll*>(item->ifa_addr);
    // sll_halen can exceed the declared array (e.g. 20-octet InfiniBand addresses); the first
    // six octets are all we read, and the bound keeps us inside the struct regardless.
    size_t length = std::min<size_t>(link->sll_halen, sizeof(link->sll_addr));
    entries.push_back({true, link->sll_addr, length});
  }
  uint64_t node = choose_node(entries);
  if (node == 0) return std::nullopt;
  return node;
}

NodeCache& node_cache() noexcept { return g_node_cache; }

}  // namespace vantor
