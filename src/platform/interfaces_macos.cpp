#include <ifaddrs.h>
#include <net/if_dl.h>
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

// Each interface's link-layer (AF_LINK) entry carries its hardware address after its name.
bool list_hardware_addresses(std::vector<HardwareAddress>& out) {
  ifaddrs* raw = nullptr;
  if (getifaddrs(&raw) != 0) return false;
  std::unique_ptr<ifaddrs, FreeIfaddrs> list(raw);
  for (const ifaddrs* item = list.get(); item != nullptr; item = item->ifa_next) {
    if (item->ifa_addr == nullptr || item->ifa_addr->sa_family != AF_LINK) continue;
    const auto* link = reinterpret_cast<const sockaddr_dl*>(item->ifa_addr);
    // The name and address share sdl_data, which may run past the declared struct; sdl_len is
    // the record's real length, and the address must lie wholly inside it.
    const size_t address_end = offsetof(sockaddr_dl, sdl_data) + size_t{link->sdl_nlen} + link->sdl_alen;
    if (address_end > link->sdl_len) continue;
    HardwareAddress address;
    address.length = std::min(size_t{link->sdl_alen}, HardwareAddress::kMaxOctets);
    const auto* octets = reinterpret_cast<const uint8_t*>(LLADDR(link));
    std::copy_n(octets, address.length, address.octets);
    out.push_back(address);
  }
  return true;
}

}  // namespace vantor::platform
