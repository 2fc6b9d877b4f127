// ThreadRng: the words it hands out are the ChaCha12 keystream of its key, in order and each
// once, whatever mix of draw sizes consumes them; the key is replaced after exactly 1024 blocks,
// and a failed replacement changes nothing; reseed() and mark_forked(); one generator per
// thread, destroyed at thread exit; a forked child does not repeat its parent's stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <latch>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "fork_support.hpp"
#include "core/byte_order.hpp"
#include "core/panic.hpp"
#include "random/chacha.hpp"
#include "random/thread_rng.hpp"
#include "test_vectors.inc"

namespace vantor {
namespace {

using Key = std::array<uint8_t, 32>;

Key key_from(uint8_t seed) {
  Key key;
  for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(seed * 37 + i * 11 + 1);
  return key;
}

const Key kFirstKey = key_from(1);
const Key kSecondKey = key_from(2);

std::vector<uint8_t> from_hex(std::string_view hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  }
  return out;
}

// `count` ChaCha12 keystream words of `key` (nonce 0) from block `first_block` on.
std::vector<uint32_t> keystream_words(const Key& key, uint64_t first_block, size_t count) {
  uint32_t state[16];
  for (int i = 0; i < 4; ++i) state[i] = kChachaConstants[i];
  for (int i = 0; i < 8; ++i) state[4 + i] = load_le32(key.data() + 4 * i);
  state[14] = state[15] = 0;
  std::vector<uint32_t> words;
  for (uint64_t block = first_block; words.size() < count; block += 4) {
    state[12] = static_cast<uint32_t>(block);
    state[13] = static_cast<uint32_t>(block >> 32);
    uint32_t out[64];
    chacha_blocks4_portable(state, out, 12);
    words.insert(words.end(), out, out + 64);
  }
  words.resize(count);
  return words;
}

// The scripted entropy source given to the generators under test (a plain function pointer,
// hence the globals). It hands out kSecondKey, or fails after scribbling over the destination
// so that a generator using a half-read key would be noticed.
struct Source {
  int calls = 0;
  std::optional<platform::EntropyError> failure;
} source;

std::optional<platform::EntropyError> scripted_entropy(uint8_t* dst, size_t len) {
  ++source.calls;
  EXPECT_EQ(len, 32u);
  if (source.failure) {
    std::memset(dst, 0xEE, len);
    return source.failure;
  }
  std::memcpy(dst, kSecondKey.data(), std::min(len, kSecondKey.size()));
  return std::nullopt;
}

const platform::EntropyError kEio{platform::EntropyError::Kind::system_error, 5};
// The system's own message for error 5 (glibc: "Input/output error (os error 5)").
const std::string kReseedPanic = "could not reseed ThreadRng: " + kEio.text();

enum class Draw { u32, u64, u128 };

const char* name_of(Draw d) { return d == Draw::u32 ? "u32" : d == Draw::u64 ? "u64" : "u128"; }
size_t words_of(Draw d) { return d == Draw::u32 ? 1 : d == Draw::u64 ? 2 : 4; }

u128 draw(ThreadRng& rng, Draw d) {
  switch (d) {
    case Draw::u32: return rng.draw_u32();
    case Draw::u64: return rng.draw_u64();
    case Draw::u128: return rng.draw_u128();
  }
  return 0;
}

// The value a draw must give: the next words of `stream` as a little-endian number.
u128 take(const std::vector<uint32_t>& stream, size_t& next, Draw d) {
  u128 v = 0;
  for (size_t i = words_of(d); i-- > 0;) v = v << 32 | stream.at(next + i);
  next += words_of(d);
  return v;
}

std::string hex(u128 v) {
  char text[40];
  std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(v >> 64),
                static_cast<unsigned long long>(v));
  return text;
}

// The failure report that the panic writes to stderr is captured and checked, not shown.
template <class F>
void expect_panic(F&& f, const std::string& message) {
  testing::internal::CaptureStderr();
  try {
    f();
    ADD_FAILURE() << "no Panic thrown";
  } catch (const Panic& panic) {
    EXPECT_EQ(panic.message, message);
  }
  const std::string report = testing::internal::GetCapturedStderr();
  EXPECT_NE(report.find("vantor: internal failure at "), std::string::npos) << report;
  EXPECT_NE(report.find(message), std::string::npos) << report;
}

class ThreadRngTest : public testing::Test {
 protected:
  void SetUp() override { source = Source{}; }
};

// The generator against a known-answer vector, serialised as bytes: this pins the key's byte
// order and the counter start independently of keystream_words() above.
TEST_F(ThreadRngTest, ProducesTheChacha12KeystreamOfItsKey) {
  for (const ChachaVector& v : kChachaVectors) {
    const std::string_view name = v.name;
    if (name != "computed-random1-r12-512" && name != "computed-random1-r12-ctr1020") continue;
    SCOPED_TRACE(v.name);
    ASSERT_EQ(v.rounds, 12);
    ASSERT_EQ(std::string_view(v.nonce_hex), "0000000000000000");
    const std::vector<uint8_t> key = from_hex(v.key_hex);
    const std::vector<uint8_t> expected = from_hex(v.keystream_hex);
    ThreadRng rng(std::span<const uint8_t, 32>(key.data(), 32), &scripted_entropy);
    for (uint64_t i = 0; i < v.counter * 16; ++i) rng.draw_u32();
    // Only the blocks before the key replacement at block 1024 belong to this key.
    const size_t bytes = std::min<size_t>(expected.size(), (1024 - v.counter) * 64);
    std::vector<uint8_t> got;
    while (got.size() < bytes) {
      const uint32_t w = rng.draw_u32();
      for (int shift = 0; shift < 32; shift += 8) got.push_back(static_cast<uint8_t>(w >> shift));
    }
    EXPECT_TRUE(std::equal(got.begin(), got.end(), expected.begin())) << "keystream differs";
  }
  EXPECT_EQ(source.calls, 0);
}

TEST_F(ThreadRngTest, StartsWithNothingBuffered) {
  ThreadRng rng(kFirstKey, &scripted_entropy);
  EXPECT_EQ(rng.position(), 64u);
  EXPECT_EQ(rng.block_counter(), 0u);
}

// A sequence of draws: `count` draws of one kind, then the next run.
struct DrawRun {
  Draw kind;
  int count;
};

struct Scenario {
  const char* name;
  std::vector<DrawRun> runs;
};

// Each scenario crosses a buffer boundary in a particular way; the words consumed so far
// decide where. A draw that does not fit into what is left takes the remaining words first and
// the new buffer's first words after them.
const Scenario kScenarios[] = {
    {"U32Stream", {{Draw::u32, 300}}},
    {"U64Stream", {{Draw::u64, 150}}},
    {"U128Stream", {{Draw::u128, 80}}},
    {"U32AfterU64TakesWordTwo", {{Draw::u64, 1}, {Draw::u32, 1}}},
    {"U64FromWord63TakesNewWord0High", {{Draw::u32, 63}, {Draw::u64, 1}, {Draw::u32, 2}}},
    {"U64FromWord62EndsTheBuffer", {{Draw::u32, 62}, {Draw::u64, 1}, {Draw::u32, 2}}},
    {"U64AfterTheBufferIsUsedUp", {{Draw::u32, 64}, {Draw::u64, 1}, {Draw::u32, 1}}},
    {"U128FromWord60EndsTheBuffer", {{Draw::u32, 60}, {Draw::u128, 1}, {Draw::u32, 1}}},
    {"U128FromWord61", {{Draw::u32, 61}, {Draw::u128, 1}, {Draw::u32, 1}}},
    {"U128FromWord62", {{Draw::u32, 62}, {Draw::u128, 1}, {Draw::u32, 1}}},
    {"U128FromWord63", {{Draw::u32, 63}, {Draw::u128, 1}, {Draw::u32, 1}}},
    {"U128AfterTheBufferIsUsedUp", {{Draw::u32, 64}, {Draw::u128, 1}, {Draw::u64, 1}}},
    {"OddWordsThenU64s", {{Draw::u32, 1}, {Draw::u64, 70}, {Draw::u128, 20}}},
    {"OddWordsThenU128s", {{Draw::u32, 3}, {Draw::u128, 40}, {Draw::u32, 5}}},
};

// After t words have been consumed, the next unread word is t mod 64, except that a buffer is
// only refilled when a draw needs it: a used-up buffer shows position 64.
uint32_t position_after(size_t consumed) { return consumed == 0 ? 64 : (consumed - 1) % 64 + 1; }
uint64_t blocks_after(size_t consumed) { return (consumed + 63) / 64 * 4; }

class ThreadRngDraws : public testing::TestWithParam<Scenario> {
 protected:
  void SetUp() override { source = Source{}; }
};

TEST_P(ThreadRngDraws, TakeTheKeystreamInOrder) {
  const std::vector<uint32_t> stream = keystream_words(kFirstKey, 0, 64 * 20);
  ThreadRng rng(kFirstKey, &scripted_entropy);
  size_t next = 0;
  int index = 0;
  for (const DrawRun& run : GetParam().runs) {
    for (int i = 0; i < run.count; ++i, ++index) {
      SCOPED_TRACE(testing::Message() << "draw " << index << " (" << name_of(run.kind) << ") from word " << next);
      const u128 expected = take(stream, next, run.kind);
      ASSERT_EQ(hex(draw(rng, run.kind)), hex(expected));
      ASSERT_EQ(rng.position(), position_after(next));
      ASSERT_EQ(rng.block_counter(), blocks_after(next));
    }
  }
  EXPECT_EQ(source.calls, 0) << "the first key lasts 1024 blocks";
}

INSTANTIATE_TEST_SUITE_P(ThreadRng, ThreadRngDraws, testing::ValuesIn(kScenarios),
                         [](const testing::TestParamInfo<Scenario>& info) { return std::string(info.param.name); });

TEST_F(ThreadRngTest, RandomMixOfDrawsTakesTheKeystreamInOrder) {
  const std::vector<uint32_t> stream = keystream_words(kFirstKey, 0, 1024 * 16);
  ThreadRng rng(kFirstKey, &scripted_entropy);
  std::mt19937 pick(7);
  size_t next = 0;
  while (next + 4 <= stream.size()) {
    const Draw d = static_cast<Draw>(pick() % 3);
    SCOPED_TRACE(testing::Message() << name_of(d) << " from word " << next);
    const u128 expected = take(stream, next, d);
    ASSERT_EQ(hex(draw(rng, d)), hex(expected));
    ASSERT_EQ(rng.position(), position_after(next));
  }
  EXPECT_EQ(source.calls, 0);
}

// Crossing the end of the first key's 1024 blocks with `kind`, `left` words of block 1023
// still unread. The old words come first, then the second key's stream from its block 0.
struct Replacement {
  const char* name;
  Draw kind;
  size_t left;
};

const Replacement kReplacements[] = {
    {"U32", Draw::u32, 0},     {"U64", Draw::u64, 0},           {"U64WithOneOldWord", Draw::u64, 1},
    {"U128", Draw::u128, 0},   {"U128WithOneOldWord", Draw::u128, 1},
    {"U128WithTwoOldWords", Draw::u128, 2}, {"U128WithThreeOldWords", Draw::u128, 3},
};

class ThreadRngKeyReplacement : public testing::TestWithParam<std::tuple<Replacement, bool>> {
 protected:
  void SetUp() override { source = Source{}; }
};

TEST_P(ThreadRngKeyReplacement, HappensExactlyAfter1024Blocks) {
  const auto& [crossing, source_fails_first] = GetParam();
  std::vector<uint32_t> stream = keystream_words(kFirstKey, 0, 1024 * 16);
  const std::vector<uint32_t> second = keystream_words(kSecondKey, 0, 128);
  stream.insert(stream.end(), second.begin(), second.end());

  ThreadRng rng(kFirstKey, &scripted_entropy);
  size_t next = 0;
  while (next < 1024 * 16 - crossing.left) ASSERT_EQ(rng.draw_u32(), stream[next++]);
  ASSERT_EQ(rng.block_counter(), 1024u);
  ASSERT_EQ(source.calls, 0);
  const uint32_t position = rng.position();

  if (source_fails_first) {
    // Twice: the first failure must leave the generator able to try again, unchanged.
    source.failure = kEio;
    for (int attempt = 1; attempt <= 2; ++attempt) {
      expect_panic([&] { draw(rng, crossing.kind); }, kReseedPanic);
      EXPECT_EQ(source.calls, attempt);
      EXPECT_EQ(rng.position(), position);
      EXPECT_EQ(rng.block_counter(), 1024u);
    }
    source.failure.reset();
  }
  const int calls_before = source.calls;
  const u128 expected = take(stream, next, crossing.kind);
  EXPECT_EQ(hex(draw(rng, crossing.kind)), hex(expected));
  EXPECT_EQ(source.calls, calls_before + 1);
  EXPECT_EQ(rng.block_counter(), 4u);
  while (next < stream.size()) ASSERT_EQ(rng.draw_u32(), stream[next++]) << "word " << next - 1;
  EXPECT_EQ(source.calls, calls_before + 1);
}

INSTANTIATE_TEST_SUITE_P(
    ThreadRng, ThreadRngKeyReplacement, testing::Combine(testing::ValuesIn(kReplacements), testing::Bool()),
    [](const testing::TestParamInfo<std::tuple<Replacement, bool>>& info) {
      return std::string(std::get<0>(info.param).name) + (std::get<1>(info.param) ? "AfterFailures" : "");
    });

TEST_F(ThreadRngTest, ReseedStartsTheNewKeyAtBlockZero) {
  ThreadRng rng(kFirstKey, &scripted_entropy);
  for (int i = 0; i < 10; ++i) rng.draw_u32();
  EXPECT_EQ(rng.reseed(), std::nullopt);
  EXPECT_EQ(source.calls, 1);
  EXPECT_EQ(rng.position(), 64u);
  EXPECT_EQ(rng.block_counter(), 0u);
  for (uint32_t w : keystream_words(kSecondKey, 0, 100)) ASSERT_EQ(rng.draw_u32(), w);
}

TEST_F(ThreadRngTest, FailedReseedKeepsTheKeyButDropsTheBuffer) {
  ThreadRng rng(kFirstKey, &scripted_entropy);
  for (int i = 0; i < 70; ++i) rng.draw_u32();  // blocks 4-7 buffered, word 6 next
  source.failure = kEio;
  EXPECT_EQ(rng.reseed(), kEio);
  EXPECT_EQ(rng.position(), 64u);
  EXPECT_EQ(rng.block_counter(), 8u);
  // The rest of blocks 4-7 is skipped; the stream resumes at block 8 of the old key.
  for (uint32_t w : keystream_words(kFirstKey, 8, 100)) ASSERT_EQ(rng.draw_u32(), w);
  EXPECT_EQ(source.calls, 1);
}

// In a forked child the next draw, of any size and wherever the parent stood in its buffer,
// must come from a new key: never one more word of the old stream.
TEST_F(ThreadRngTest, MarkForkedMakesTheNextDrawUseANewKey) {
  const std::vector<uint32_t> old_stream = keystream_words(kFirstKey, 0, 128);
  const std::vector<uint32_t> new_stream = keystream_words(kSecondKey, 0, 4);
  for (Draw d : {Draw::u32, Draw::u64, Draw::u128}) {
    for (int consumed : {0, 5, 61, 63, 64}) {
      SCOPED_TRACE(testing::Message() << name_of(d) << " after " << consumed << " words");
      source = Source{};
      ThreadRng rng(kFirstKey, &scripted_entropy);
      for (int i = 0; i < consumed; ++i) rng.draw_u32();
      rng.mark_forked();
      EXPECT_EQ(rng.position(), 64u);
      EXPECT_EQ(rng.block_counter(), 1024u);
      size_t next = 0;
      EXPECT_EQ(hex(draw(rng, d)), hex(take(new_stream, next, d)));
      EXPECT_EQ(source.calls, 1);
    }
  }
}

TEST_F(ThreadRngTest, MarkForkedWithAFailingSourceNeverResumesTheOldStream) {
  ThreadRng rng(kFirstKey, &scripted_entropy);
  for (int i = 0; i < 5; ++i) rng.draw_u32();
  rng.mark_forked();
  source.failure = kEio;
  expect_panic([&] { rng.draw_u64(); }, kReseedPanic);
  expect_panic([&] { rng.draw_u32(); }, kReseedPanic);
  source.failure.reset();
  for (uint32_t w : keystream_words(kSecondKey, 0, 70)) ASSERT_EQ(rng.draw_u32(), w);
  EXPECT_EQ(source.calls, 3);
}

// ---------------------------------------------------------------------------------------------
// thread_rng(): one generator per thread.

TEST(ThreadRngPerThread, EachThreadHasItsOwnGenerator) {
  ThreadRng* const mine = &thread_rng();
  EXPECT_EQ(&thread_rng(), mine);
  struct Seen {
    ThreadRng* rng;
    u128 first;
  } seen[2];
  // Both threads keep their generator until both have one, so an address cannot be reused.
  std::latch both(2);
  auto body = [&](Seen& s) {
    s.rng = &thread_rng();
    s.first = s.rng->draw_u128();
    EXPECT_EQ(&thread_rng(), s.rng);
    both.arrive_and_wait();
  };
  std::thread a(body, std::ref(seen[0])), b(body, std::ref(seen[1]));
  a.join();
  b.join();
  EXPECT_NE(seen[0].rng, seen[1].rng);
  EXPECT_NE(seen[0].rng, mine);
  EXPECT_NE(seen[1].rng, mine);
  EXPECT_NE(hex(seen[0].first), hex(seen[1].first));
}

// Draws from a thread_local destructor, which runs during thread exit before the generators
// are destroyed; when it is the thread's first use it creates a generator right then.
struct DrawsAtThreadExit {
  ~DrawsAtThreadExit() { thread_rng().draw_u64(); }
};

TEST(ThreadRngPerThread, GeneratorsAreDestroyedAtThreadExit) {
  const size_t before = live_thread_rngs();
  const struct {
    const char* name;
    void (*body)();
  } cases[] = {
      {"draws", [] { thread_rng().draw_u32(); }},
      {"never draws", [] {}},
      {"draws, then draws again at exit", [] {
         static thread_local DrawsAtThreadExit at_exit;
         thread_rng().draw_u32();
         (void)&at_exit;
       }},
      {"draws only at exit", [] {
         static thread_local DrawsAtThreadExit at_exit;
         (void)&at_exit;
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (int i = 0; i < 50; ++i) std::thread(c.body).join();
    EXPECT_EQ(live_thread_rngs(), before);
  }

  // Several at once: each has its own until it exits.
  constexpr int kThreads = 4;
  std::latch created(kThreads + 1), release(1);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&] {
      thread_rng().draw_u32();
      created.count_down();
      release.wait();
    });
  }
  created.arrive_and_wait();
  EXPECT_EQ(live_thread_rngs(), before + kThreads);
  release.count_down();
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(live_thread_rngs(), before);
}

TEST(ThreadRngFork, ChildDoesNotContinueTheParentsStream) {
#if VANTOR_TEST_HAVE_FORK
  ThreadRng& rng = thread_rng();
  rng.draw_u32();  // something buffered, which the child inherits
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t pid = fork();
  ASSERT_NE(pid, -1);
  if (pid == 0) {
    u128 drawn[4];
    for (u128& v : drawn) v = thread_rng().draw_u128();
    const bool sent = write(fds[1], drawn, sizeof drawn) == static_cast<ssize_t>(sizeof drawn);
    _exit(sent ? 0 : 1);
  }
  close(fds[1]);
  u128 parent[4], child[4];
  for (u128& v : parent) v = rng.draw_u128();
  ASSERT_EQ(read(fds[0], child, sizeof child), static_cast<ssize_t>(sizeof child));
  close(fds[0]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) EXPECT_NE(hex(child[i]), hex(parent[j])) << "child " << i << ", parent " << j;
  }
#else
  GTEST_SKIP() << VANTOR_TEST_NO_FORK_REASON;
#endif
}

}  // namespace
}  // namespace vantor
