#include "time/v7.hpp"

namespace vantor {

namespace {

constinit V7Context g_v7_context;

}  // namespace

V7Context& v7_context() noexcept { return g_v7_context; }

}  // namespace vantor
