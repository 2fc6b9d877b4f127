#include <ifaddrs.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstddef>
#include <memory>

#include "platform/platform.hpp"

// The systems with getifaddrs differ only in the family of the entry that carries an interface's
// hardware address: BSD's link-layer records (macOS and the BSDs), or Linux's packet sockets.
#if __has_include(<net/if_dl.h>)
#include <net/if_dl.h>
#else
#include <linux/if_packet.h>
#endif

namespace vantor::platform {

namespace {

struct FreeIfaddrs {
  void operator()(ifaddrs* list) const noexcept { freeifaddrs(list); }
};

#if __has_include(<net/if_dl.h>)
constexpr int kLinkLayerFamily = AF_LINK;

// The name and address share sdl_data, which may run past the declared struct; sdl_len is the
// record's real length, and the address must lie wholly inside it.
bool read_hardware_address(const sockaddr* entry, HardwareAddress& address) noexcept {
  const auto* link = reinterpret_cast<const sockaddr_dl*>(entry);
  const size_t address_end = offsetof(sockaddr_dl, sdl_data) + size_t{link->sdl_nlen} + link->sdl_alen;
  if (address_end > link->sdl_len) return false;
  address.length = std::min(size_t{link->sdl_alen}, HardwareAddress::kMaxOctets);
  const auto* octets = reinterpret_cast<const uint8_t*>(LLADDR(link));
  std::copy_n(octets, address.length, address.octets);
  return true;
}
#else
constexpr int kLinkLayerFamily = AF_PACKET;

// sll_halen can exceed the declared array (e.g. 20-octet InfiniBand addresses); the first octets
// are all we read, and the bound keeps us inside the struct regardless.
bool read_hardware_address(const sockaddr* entry, HardwareAddress& address) noexcept {
  const auto* link = reinterpret_cast<const sockaddr_ll*>(entry);
  address.length = std::min({size_t{link->sll_halen}, sizeof(link->sll_addr), HardwareAddress::kMaxOctets});
  std::copy_n(link->sll_addr, address.length, address.octets);
  return true;
}
#endif

}  // namespace

// getifaddrs from libc (tests interpose it with LD_PRELOAD on Linux).
bool list_hardware_addresses(std::vector<HardwareAddress>& out) {
  ifaddrs* raw = nullptr;
  if (getifaddrs(&raw) != 0) return false;
  std::unique_ptr<ifaddrs, FreeIfaddrs> list(raw);
  for (const ifaddrs* item = list.get(); item != nullptr; item = item->ifa_next) {
    if (item->ifa_addr == nullptr || item->ifa_addr->sa_family != kLinkLayerFamily) continue;
    HardwareAddress address;
    if (read_hardware_address(item->ifa_addr, address)) out.push_back(address);
  }
  return true;
}

}  // namespace vantor::platform
