#include "time/node.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace vantor {
namespace {

// ---- Choosing among interfaces --------------------------------------------------------------

struct Interface {
  bool link_layer;
  std::vector<uint8_t> address;
};

struct ChooseCase {
  const char* name;
  std::vector<Interface> interfaces;
  uint64_t node;
};

class NodeChoose : public ::testing::TestWithParam<ChooseCase> {};

TEST_P(NodeChoose, PrefersTheFirstUniversalAddress) {
  std::vector<InterfaceEntry> entries;
  for (const Interface& i : GetParam().interfaces) {
    entries.push_back({i.link_layer, i.address.empty() ? nullptr : i.address.data(), i.address.size()});
  }
  EXPECT_EQ(choose_node(entries), GetParam().node);
}

const std::vector<uint8_t> kLoopback{0, 0, 0, 0, 0, 0};
const std::vector<uint8_t> kLocal1{0x02, 0, 0, 0, 0, 0x01};
const std::vector<uint8_t> kLocal2{0x06, 0, 0, 0, 0, 0x02};
const std::vector<uint8_t> kUniversal1{0x00, 0x00, 0x5E, 0x00, 0x53, 0x01};
const std::vector<uint8_t> kUniversal2{0x00, 0x11, 0x22, 0x33, 0x44, 0x55};

INSTANTIATE_TEST_SUITE_P(
    NodeInterfaces, NodeChoose,
    ::testing::Values(
        ChooseCase{"Empty", {}, 0},
        ChooseCase{"LoopbackOnly", {{true, kLoopback}}, 0},
        ChooseCase{"UniversalAfterLocal", {{true, kLocal1}, {true, kUniversal1}}, 0x00005E005301},
        ChooseCase{"FirstOfTwoLocals", {{true, kLocal1}, {true, kLocal2}}, 0x020000000001},
        ChooseCase{"FirstOfTwoUniversals", {{true, kUniversal2}, {true, kUniversal1}}, 0x001122334455},
        ChooseCase{"LocalsAroundLoopback", {{true, kLocal2}, {true, kLoopback}, {true, kLocal1}},
                   0x060000000002},
        // Multicast says nothing about administration: 0x02 is clear, so it is universal.
        ChooseCase{"UniversalMulticast", {{true, kLocal1}, {true, {0x01, 0x00, 0x5E, 0x00, 0x00, 0xFB}}},
                   0x01005E0000FB},
        ChooseCase{"LocalMulticast", {{true, {0x03, 0, 0, 0, 0, 0x07}}}, 0x030000000007},
        ChooseCase{"NotLinkLayer", {{false, kUniversal2}, {true, kLocal1}}, 0x020000000001},
        ChooseCase{"NotLinkLayerOnly", {{false, kUniversal2}}, 0},
        ChooseCase{"EmptyAddress", {{true, {}}, {true, kLocal1}}, 0x020000000001},
        ChooseCase{"ShortAddress", {{true, {0x00, 0x11, 0x22, 0x33, 0x44}}, {true, kLocal1}}, 0x020000000001},
        ChooseCase{"ShortOnly", {{true, {0x00, 0x11, 0x22, 0x33}}}, 0},
        ChooseCase{"LongAddressUsesFirstSix",
                   {{true, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}}}, 0x001122334455},
        // Only the first six octets count as the address, so zeros there mean loopback.
        ChooseCase{"LongAddressZeroHead", {{true, {0, 0, 0, 0, 0, 0, 0x12, 0x34}}, {true, kLocal2}},
                   0x060000000002},
        ChooseCase{"AllOnes", {{true, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}}, 0xFFFFFFFFFFFF}),
    [](const ::testing::TestParamInfo<ChooseCase>& info) { return std::string(info.param.name); });

// The kernel's own list of this host's hardware addresses, read from sysfs rather than through
// the interface-listing call under test: the first six octets of each address that has them,
// with all-zero (loopback) ones left out.
std::vector<uint64_t> sysfs_hardware_addresses() {
  std::vector<uint64_t> found;
  for (const auto& dir : std::filesystem::directory_iterator("/sys/class/net")) {
    std::ifstream file(dir.path() / "address");
    std::string text;
    if (!(file >> text) || text.size() < 17) continue;
    uint64_t node = 0;
    for (int i = 0; i < 6; ++i) node = node << 8 | std::stoul(text.substr(3 * i, 2), nullptr, 16);
    if (node != 0) found.push_back(node);
  }
  return found;
}

TEST(NodeScan, FindsAHardwareAddressOfThisHostPreferringUniversalOnes) {
  if (!std::filesystem::is_directory("/sys/class/net")) GTEST_SKIP() << "no /sys/class/net";
  const std::vector<uint64_t> addresses = sysfs_hardware_addresses();
  const std::optional<uint64_t> node = scan_host_interfaces();
  if (addresses.empty()) {
    EXPECT_EQ(node, std::nullopt);
    return;
  }
  ASSERT_TRUE(node.has_value()) << addresses.size() << " usable addresses in sysfs";
  EXPECT_NE(std::find(addresses.begin(), addresses.end(), *node), addresses.end())
      << std::hex << *node << " is no address of this host";
  constexpr uint64_t kLocalBit = uint64_t{0x02} << 40;
  const bool any_universal = std::any_of(addresses.begin(), addresses.end(),
                                         [](uint64_t a) { return (a & kLocalBit) == 0; });
  EXPECT_EQ((*node & kLocalBit) == 0, any_universal) << std::hex << *node;
}

// ---- Random node ----------------------------------------------------------------------------

struct RandomCase {
  std::vector<uint32_t> draws;
  uint64_t node;
};

class NodeRandom : public ::testing::TestWithParam<RandomCase> {};

TEST_P(NodeRandom, TakesLowOctetsInOrderAndSetsMulticast) {
  const RandomCase& c = GetParam();
  size_t used = 0;
  uint64_t node = random_node([&]() -> uint32_t { return c.draws.at(used++); });
  EXPECT_EQ(node, c.node);
  EXPECT_EQ(used, 6u);
  EXPECT_LT(node, uint64_t{1} << 48);
  EXPECT_NE(node & (uint64_t{1} << 40), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    NodeDraws, NodeRandom,
    ::testing::Values(
        RandomCase{{0xFFFFFF00, 0x11, 0x22, 0x33, 0x44, 0x55}, 0x011122334455},
        RandomCase{{0x00000000, 0, 0, 0, 0, 0}, 0x010000000000},
        RandomCase{{0xAAAAAA01, 0xBBBBBB02, 0xCCCCCC03, 0xDDDDDD04, 0xEEEEEE05, 0xFFFFFF06},
                   0x010203040506},
        RandomCase{{0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54}, 0xFFDCBA987654},
        RandomCase{{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF},
                   0xFFFFFFFFFFFF}));

// ---- Caching --------------------------------------------------------------------------------

TEST(NodeCaching, KeepsTheScannedNode) {
  NodeCache cache;
  int scans = 0;
  auto scan = [&]() -> std::optional<uint64_t> {
    ++scans;
    return 0x001122334455;
  };
  auto no_draw = []() -> uint32_t {
    ADD_FAILURE() << "unexpected draw";
    return 0;
  };
  EXPECT_EQ(cache.get(scan, no_draw), 0x001122334455u);
  EXPECT_EQ(cache.get(scan, no_draw), 0x001122334455u);
  EXPECT_EQ(scans, 1);
}

TEST(NodeCaching, FallsBackToARandomNodeAndKeepsIt) {
  NodeCache cache;
  int scans = 0;
  auto scan = [&]() -> std::optional<uint64_t> {
    ++scans;
    return std::nullopt;
  };
  uint32_t next = 0x10;
  auto draw = [&]() -> uint32_t { return next++; };
  EXPECT_EQ(cache.get(scan, draw), 0x111112131415u);
  EXPECT_EQ(cache.get(scan, draw), 0x111112131415u);
  EXPECT_EQ(scans, 1);
  EXPECT_EQ(next, 0x16u);
}

TEST(NodeCaching, DefaultNodeIsStable) {
  uint32_t next = 0;
  auto draw = [&]() -> uint32_t { return next++; };
  uint64_t first = default_node(draw);
  EXPECT_NE(first, 0u);
  EXPECT_LT(first, uint64_t{1} << 48);
  EXPECT_EQ(default_node(draw), first);
}

}  // namespace
}  // namespace vantor
