#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <sys/socket.h>

#include <algorithm>
#include <memory>

#include "platform/platform.hpp"

namespace vantor::platform {

namespace {

struct FreeIfaddrs {
  void operator()(ifaddrs* list) const noexcept { freeifaddrs(list); }
};

}  // namespace

// getifaddrs from libc (tests interpose it with LD_PRELOAD): each interface's packet-family entry
// carries its hardware address.
bool list_hardware_addresses(std::vector<HardwareAddress>& out) {
  ifaddrs* raw = nullptr;
  if (getifaddrs(&raw) != 0) return false;
  std::unique_ptr<ifaddrs, FreeIfaddrs> list(raw);
  for (const ifaddrs* item = list.get(); item != nullptr; item = item->ifa_next) {
    if (item->ifa_addr == nullptr || item->ifa_addr->sa_family != AF_PACKET) continue;
    const auto* link = reinterpret_cast<const sockaddr_ll*>(item->ifa_addr);
    // sll_halen can exceed the declared array (e.g. 20-octet InfiniBand addresses); the first
    // octets are all we read, and the bound keeps us inside the struct regardless.
    HardwareAddress address;
    address.length = std::min({size_t{link->sll_halen}, sizeof(link->sll_addr), HardwareAddress::kMaxOctets});
    std::copy_n(link->sll_addr, address.length, address.octets);
    out.push_back(address);
  }
  return true;
}

}  // namespace vantor::platform
