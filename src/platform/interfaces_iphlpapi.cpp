// clang-format off
#include <winsock2.h>
#include <iphlpapi.h>
// clang-format on

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/platform.hpp"

namespace vantor::platform {

// GetAdaptersAddresses lists every adapter with its physical address. The list's size is only
// known by asking; it can grow between the two calls, hence the retries.
bool list_hardware_addresses(std::vector<HardwareAddress>& out) {
  constexpr ULONG kFlags = GAA_FLAG_SKIP_UNICAST | GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                           GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_SKIP_FRIENDLY_NAME;
  ULONG size = 16 * 1024;
  std::unique_ptr<uint8_t[]> buffer;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer = std::make_unique<uint8_t[]>(size);
    result = GetAdaptersAddresses(AF_UNSPEC, kFlags, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get()),
                                  &size);
  }
  if (result == ERROR_NO_DATA) return true;
  if (result != NO_ERROR) return false;
  for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.get()); adapter != nullptr;
       adapter = adapter->Next) {
    HardwareAddress address;
    address.length = std::min<size_t>({adapter->PhysicalAddressLength, sizeof(adapter->PhysicalAddress),
                                       HardwareAddress::kMaxOctets});
    std::copy_n(adapter->PhysicalAddress, address.length, address.octets);
    out.push_back(address);
  }
  return true;
}

}  // namespace vantor::platform
