// The UUID class: a heap type whose instances are the object header plus one UuidValue, 32 bytes
// on 64-bit builds (48 on free-threaded ones, whose header is larger), with no dictionary, no weak
// references and no GC header.
#pragma once

#include <atomic>
#include <span>

#include "module/boundary.hpp"

namespace vantor::py {

struct UuidObject {
  PyObject_HEAD
  UuidValue value;
};

inline const UuidValue& uuid_value_of(PyObject* object) noexcept {
  return reinterpret_cast<UuidObject*>(object)->value;
}

// The process-wide type, created on first use; a RuntimeError (with the underlying error as its
// cause) when it cannot be created. The cell stays empty after a failure, so the next call retries.
Result<PyTypeObject*> create_uuid_type();

// For every user but the module's execution step: a failure to create the type is reported to
// the unraisable hook and then is an internal failure.
[[gnu::cold]] PyTypeObject* uuid_type_slow();
// Published once, complete (its vectorcall entry set), by compare-and-swap; read with an acquire
// load, which is a plain load on x86-64.
extern constinit std::atomic<PyTypeObject*> uuid_type_cell;
inline PyTypeObject* uuid_type() {
  if (PyTypeObject* type = uuid_type_cell.load(std::memory_order_acquire)) [[likely]]
    return type;
  return uuid_type_slow();
}

// A new instance of `type` (UUID or a Python subclass) holding `value`.
Result<Ref> wrap_uuid(PyTypeObject* type, const UuidValue& value);

// A new instance of exactly UUID: the path of every generator and factory.
inline Result<Ref> new_uuid(const UuidValue& value) {
  PyTypeObject* type = uuid_type();
  auto* object = static_cast<UuidObject*>(PyObject_Malloc(sizeof(UuidObject)));
  if (object == nullptr) [[unlikely]] {
    PyErr_NoMemory();
    return fail_fetched();
  }
  PyObject_Init(reinterpret_cast<PyObject*>(object), type);
  object->value = value;
  return Ref(reinterpret_cast<PyObject*>(object));
}

// The class's behaviour, defined beside the UUID protocol: the slots of the type spec other than
// doc, base and deallocator (methods and getset tables included).
std::span<const PyType_Slot> uuid_behaviour_slots();
// The entry for calling the class itself, UUID(...), without building an argument tuple.
vectorcallfunc uuid_type_vectorcall();

}  // namespace vantor::py
