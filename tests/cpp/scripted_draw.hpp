// A stand-in for the random draws that the time-based code takes as a callable: it hands out
// scripted values in order and fails the test if asked for more.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

namespace vantor::test_support {

template <class Word>
struct ScriptedDraw {
  std::vector<Word> values;
  size_t used = 0;
  Word operator()() {
    if (used == values.size()) {
      ADD_FAILURE() << "unexpected draw";
      return 0;
    }
    return values[used++];
  }
};

}  // namespace vantor::test_support
