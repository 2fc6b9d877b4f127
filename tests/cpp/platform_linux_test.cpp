// The Linux platform files: the read loop around getrandom(2), driven by a scripted fake that
// records where each call was asked to write; fork handlers; the C library's error texts.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/entropy_getrandom.hpp"
#include "platform/platform.hpp"

namespace vantor {
namespace {

using platform::EntropyError;

// One scripted answer: `result` is returned with errno set to `err`. A positive result first
// writes min(result, len) bytes, numbered on from the last byte written by the fake.
struct Step {
  ssize_t result;
  int err = 0;
};

struct Call {
  size_t offset;  // from the start of the destination
  size_t len;
  friend bool operator==(const Call&, const Call&) = default;
};

void PrintTo(const Call& c, std::ostream* os) { *os << "{offset " << c.offset << ", len " << c.len << "}"; }

struct Script {
  const uint8_t* dst = nullptr;
  std::vector<Step> steps;
  size_t next = 0;
  uint8_t next_byte = 1;
  std::vector<Call> calls;
};

Script* script = nullptr;

ssize_t fake_getrandom(void* buf, size_t len, unsigned flags) {
  EXPECT_EQ(flags, 0u);
  script->calls.push_back({static_cast<size_t>(static_cast<uint8_t*>(buf) - script->dst), len});
  if (script->next == script->steps.size()) {
    ADD_FAILURE() << "called again after the last scripted step";
    errno = ENOSYS;
    return -1;
  }
  const Step step = script->steps[script->next++];
  if (step.result > 0) {
    const size_t n = std::min(static_cast<size_t>(step.result), len);
    for (size_t i = 0; i < n; ++i) static_cast<uint8_t*>(buf)[i] = script->next_byte++;
  }
  errno = step.err;
  return step.result;
}

using Kind = EntropyError::Kind;

struct Case {
  const char* name;
  size_t len;
  std::vector<Step> steps;
  std::optional<EntropyError> expected;  // nullopt: filled
  std::vector<Call> calls;
};

const Case kCases[] = {
    {"AllAtOnce", 32, {{32}}, std::nullopt, {{0, 32}}},
    {"NothingAsked", 0, {}, std::nullopt, {}},
    {"ShortReadsContinue", 32, {{5}, {11}, {1}, {15}}, std::nullopt,
     {{0, 32}, {5, 27}, {16, 16}, {17, 15}}},
    {"InterruptedCallsAreRetried", 32, {{-1, EINTR}, {3}, {-1, EINTR}, {-1, EINTR}, {29}}, std::nullopt,
     {{0, 32}, {0, 32}, {3, 29}, {3, 29}, {3, 29}}},
    {"ErrnoIsReported", 32, {{4}, {-1, EIO}}, EntropyError{Kind::system_error, EIO}, {{0, 32}, {4, 28}}},
    {"ErrnoAfterInterruptIsReported", 16, {{-1, EINTR}, {-1, ENOSYS}},
     EntropyError{Kind::system_error, ENOSYS}, {{0, 16}, {0, 16}}},
    {"ErrnoZero", 32, {{-1, 0}}, EntropyError{Kind::no_error_code}, {{0, 32}}},
    {"ErrnoNegative", 32, {{-1, -4}}, EntropyError{Kind::no_error_code}, {{0, 32}}},
    {"ReturnsZero", 32, {{10}, {0}}, EntropyError{Kind::unexpected_result}, {{0, 32}, {10, 22}}},
    {"ReturnsMinusTwo", 32, {{-2, EIO}}, EntropyError{Kind::unexpected_result}, {{0, 32}}},
    {"ReturnsMoreThanAsked", 32, {{8}, {25}}, EntropyError{Kind::unexpected_result}, {{0, 32}, {8, 24}}},
};

class EntropyRead : public testing::TestWithParam<Case> {};

TEST_P(EntropyRead, FollowsTheScript) {
  const Case& c = GetParam();
  std::vector<uint8_t> dst(c.len + 1, 0);
  Script s;
  s.dst = dst.data();
  s.steps = c.steps;
  script = &s;
  const std::optional<EntropyError> result = platform::read_entropy_with(&fake_getrandom, dst.data(), c.len);
  script = nullptr;

  EXPECT_EQ(result, c.expected);
  EXPECT_EQ(s.calls, c.calls);
  EXPECT_EQ(s.next, c.steps.size()) << "not every scripted step was used";
  if (!c.expected) {
    // Every byte written exactly once and in order: a restarted or overlapping read would
    // leave gaps or repeats in the numbering.
    for (size_t i = 0; i < c.len; ++i) EXPECT_EQ(dst[i], static_cast<uint8_t>(i + 1)) << "byte " << i;
  }
  EXPECT_EQ(dst[c.len], 0) << "wrote past the end";
}

INSTANTIATE_TEST_SUITE_P(Entropy, EntropyRead, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

int fork_handler_runs = 0;
void count_fork_handler_run() { ++fork_handler_runs; }

TEST(PlatformFork, ChildHandlerRunsInTheChildOnly) {
  ASSERT_EQ(platform::register_fork_child_handler(&count_fork_handler_run), 0);
  const int before = fork_handler_runs;
  const pid_t pid = fork();
  ASSERT_NE(pid, -1) << std::strerror(errno);
  if (pid == 0) _exit(fork_handler_runs == before + 1 ? 0 : 1);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the handler did not run once in the child";
  EXPECT_EQ(fork_handler_runs, before) << "the handler ran in the parent";
}

#if defined(__GLIBC__)
TEST(PlatformErrorText, GivesTheCLibrarysMessages) {
  // A known code gives glibc's static message (GNU strerror_r leaves the buffer unused), an
  // unknown one a message formatted into the buffer.
  EXPECT_EQ(platform::error_text(EIO), "Input/output error");
  EXPECT_EQ(platform::error_text(ENOSYS), "Function not implemented");
  EXPECT_EQ(platform::error_text(4242), "Unknown error 4242");
}
#endif

}  // namespace
}  // namespace vantor
