#include "core/panic.hpp"

#include <cstdio>

namespace vantor {

void internal_failure(std::string message, std::source_location where) {
  std::fprintf(stderr, "vantor: internal failure at %s:%u:\n%s\n", where.file_name(),
               static_cast<unsigned>(where.line()), message.c_str());
  std::fflush(stderr);
  throw Panic{std::move(message)};
}

void resume_panic(std::string message) { throw Panic{std::move(message)}; }

}  // namespace vantor
