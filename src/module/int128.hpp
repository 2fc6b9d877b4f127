// Unsigned 128-bit values to and from Python ints: through the public digit export and writer on
// 3.14 and later (native bytes for an unusual digit layout), and through the int's own digits on
// 3.11 to 3.13, whose int layout is fixed for the life of each release.
#pragma once

#include <optional>

#include "module/boundary.hpp"

#if PY_VERSION_HEX >= 0x030E0000
// From 3.14 on, ints are reached through the public API alone: any use of the int internals after
// this point, in this header or a file that includes it, fails the build.
#pragma GCC poison _PyLong_New _PyLong_FromByteArray _PyLong_AsByteArray _PyLong_NumBits long_value lv_tag ob_digit
#endif

namespace vantor::py {

// The value of an int (subclasses included) that fits in a single digit, read in place; nullopt
// for anything else. Nearly every field, version number and small count is one.
inline std::optional<Py_ssize_t> compact_int(PyObject* object) {
  if (!PyLong_Check(object)) return std::nullopt;
  auto* integer = reinterpret_cast<PyLongObject*>(object);
  if (!PyUnstable_Long_IsCompact(integer)) return std::nullopt;
  return PyUnstable_Long_CompactValue(integer);
}

// The value of an int (PyLong_Check holds); a negative value or one of 2^128 or more fails with
// the interpreter's OverflowError and message.
Result<u128> int_to_u128(PyObject* integer);

}  // namespace vantor::py
