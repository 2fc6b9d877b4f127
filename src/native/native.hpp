// The extension module `vantor._native`: bulk generation (vantor.bulk) and the generators that
// return the standard library's uuid.UUID (vantor.std). It lives in the same shared object as
// `_vantor`, so both use one set of per-thread generators and one version-7 state.
#pragma once

#include <span>

#include "module/boundary.hpp"

namespace vantor::py {

// How the standard class stores its two slots, read once when the module is executed. Without a
// layout (another Python keeps the class differently), vantor.std stays in Python and bulk
// "std" results are made by calling the class.
struct StdLayout {
  PyTypeObject* type;         // uuid.UUID, kept alive for the process
  Py_ssize_t int_offset;      // the `int` slot
  Py_ssize_t is_safe_offset;  // the `is_safe` slot
  PyObject* unknown;          // uuid.SafeUUID.unknown, kept alive for the process
};

// Reads the standard class's layout; nullopt (and no error set) when it is not the expected one.
Result<std::optional<StdLayout>> read_std_layout();
// The layout found when the module was executed, or nullptr.
const StdLayout* std_layout() noexcept;
void set_std_layout(const StdLayout& layout) noexcept;

// A uuid.UUID of `value`, with is_safe `is_safe` (borrowed; SafeUUID.unknown when nullptr).
Result<Ref> new_std_uuid(const UuidValue& value, PyObject* is_safe = nullptr);

// Function tables, each ending in a zeroed entry. Names are those the Python package gives them.
std::span<PyMethodDef> std_functions();   // src/native/std_py.cpp
std::span<PyMethodDef> bulk_functions();  // src/native/bulk_py.cpp
std::span<PyMethodDef> validator_functions();  // src/native/validator_py.cpp

}  // namespace vantor::py
