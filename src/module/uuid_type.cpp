#include "module/uuid_type.hpp"

#include <vector>

#include "module/gil.hpp"

namespace vantor::py {

constinit std::atomic<PyTypeObject*> uuid_type_cell{nullptr};

namespace {

constexpr const char kUuidDoc[] =
    "UUID(hex=None, bytes=None, bytes_le=None, fields=None, int=None, version=None)\n--\n\n";

#ifndef Py_GIL_DISABLED
void uuid_dealloc(PyObject* self) noexcept {
  PyTypeObject* type = Py_TYPE(self);
  type->tp_free(self);
  Py_DECREF(type);
}
#endif

}  // namespace

// Every instance holds a reference to the type. With the GIL, the deallocator above drops it. On a
// free-threaded build, dropping it with Py_DECREF would make every thread that frees a UUID write
// to the type's shared reference count, one cache line for all threads, and UUIDs would get
// slower with more threads. There the type leaves the slot empty and gets the interpreter's own
// deallocator for heap types, which frees the object and drops the reference in the calling
// thread's own count for the type, as the allocation (PyObject_Init) took it.
Result<PyTypeObject*> create_uuid_type() {
  if (PyTypeObject* existing = uuid_type_cell.load(std::memory_order_acquire)) return existing;
  std::vector<PyType_Slot> slots = {
      {Py_tp_doc, const_cast<char*>(kUuidDoc)},
      {Py_tp_base, &PyBaseObject_Type},
#ifndef Py_GIL_DISABLED
      {Py_tp_dealloc, reinterpret_cast<void*>(&uuid_dealloc)},
#endif
  };
  for (const PyType_Slot& slot : uuid_behaviour_slots()) slots.push_back(slot);
  slots.push_back({0, nullptr});
  PyType_Spec spec = {
      "vantor.UUID", static_cast<int>(sizeof(UuidObject)), 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE,
      slots.data(),
  };
  PyObject* type = PyType_FromSpec(&spec);
  if (type == nullptr) {
    Ref cause = fetch_error().into_exception();
    Ref error = std::move(PendingError(PyExc_RuntimeError, "An error occurred while initializing class UUID"))
                    .into_exception();
    PyException_SetCause(error.get(), cause.release());
    return fail(PendingError::from_exception(std::move(error)));
  }
  // The class's methods and properties are looked up by every thread.
  PyObject* key;
  PyObject* descriptor;
  Py_ssize_t position = 0;
  while (PyDict_Next(reinterpret_cast<PyTypeObject*>(type)->tp_dict, &position, &key, &descriptor))
    share_between_threads(descriptor);
  // Complete before it is published. Two threads may both have built a type; the first one stored
  // stays in use and the other is released.
  reinterpret_cast<PyTypeObject*>(type)->tp_vectorcall = uuid_type_vectorcall();
  PyTypeObject* expected = nullptr;
  if (uuid_type_cell.compare_exchange_strong(expected, reinterpret_cast<PyTypeObject*>(type), std::memory_order_acq_rel,
                                             std::memory_order_acquire))
    return reinterpret_cast<PyTypeObject*>(type);
  Py_DECREF(type);
  return expected;
}

PyTypeObject* uuid_type_slow() {
  Result<PyTypeObject*> type = create_uuid_type();
  if (type) return *type;
  std::move(type.error()).raise();
  PyErr_WriteUnraisable(nullptr);
  internal_failure("failed to create type object for `UUID`");
}

Result<Ref> wrap_uuid(PyTypeObject* type, const UuidValue& value) {
  if (type == uuid_type()) return new_uuid(value);
  // A subclass may add a dictionary, GC or slots of its own: allocate through object.__new__.
  Ref empty = checked(PyTuple_New(0));
  Ref object(PyBaseObject_Type.tp_new(type, empty.get(), nullptr));
  if (!object) return fail_fetched();
  reinterpret_cast<UuidObject*>(object.get())->value = value;
  return object;
}

}  // namespace vantor::py
