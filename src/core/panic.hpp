// Internal failures: faults that no caller can handle. They unwind as a C++ exception and are
// caught only by the entry wrappers, which raise them in Python as PanicException.
#pragma once

#include <source_location>
#include <string>

namespace vantor {

struct Panic {
  std::string message;
};

// Writes a failure report (location and message) to standard error, then throws Panic.
[[noreturn, gnu::cold]] void internal_failure(
    std::string message, std::source_location where = std::source_location::current());

// Throws Panic without a report: used when a PanicException raised in Python code is resumed,
// which has already been printed with its traceback.
[[noreturn, gnu::cold]] void resume_panic(std::string message);

}  // namespace vantor
