#include "time/v7.hpp"

namespace vantor {

namespace {

V7Context g_v7_context;  // not constinit: mingw-w64's std::mutex is not constexpr

}  // namespace

V7Context& v7_context() noexcept { return g_v7_context; }

}  // namespace vantor
