// The C API of 3.12 that the module uses, on 3.11: each missing call or name is defined here under
// its 3.12 name, from what 3.11 offers, so that the code using it reads the same on every version.
// On 3.12 and later this header adds nothing. Included right after Python.h (module/boundary.hpp).
#pragma once

#include <Python.h>

#if PY_VERSION_HEX < 0x030C0000
// 3.11 keeps PyMemberDef and its flags in structmember.h, under names without the Py_ prefix.
#include <structmember.h>

#define Py_T_OBJECT_EX T_OBJECT_EX
#define Py_READONLY READONLY

// The current exception as one object, taken from the thread and with its traceback attached, as
// 3.12 stores it: 3.11 keeps a (type, value, traceback) triple that may not be normalized yet.
// nullptr, with nothing set, when no exception is set.
inline PyObject* PyErr_GetRaisedException() {
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  if (type == nullptr) return nullptr;
  PyErr_NormalizeException(&type, &value, &traceback);
  if (traceback != nullptr) PyException_SetTraceback(value, traceback);
  Py_DECREF(type);
  Py_XDECREF(traceback);
  return value;
}

// Sets the exception object `exception` (stolen) as the current one; nullptr clears it.
inline void PyErr_SetRaisedException(PyObject* exception) {
  if (exception == nullptr) {
    PyErr_Clear();
    return;
  }
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(exception));
  Py_INCREF(type);
  PyErr_Restore(type, exception, PyException_GetTraceback(exception));
}

// 3.11's int: ob_size holds the digit count with the value's sign, and ob_digit[0] exists even for
// zero (CPython's own single-digit fast paths read it the same way).
inline int PyUnstable_Long_IsCompact(const PyLongObject* integer) {
  const Py_ssize_t size = Py_SIZE(integer);
  return -1 <= size && size <= 1;
}

inline Py_ssize_t PyUnstable_Long_CompactValue(const PyLongObject* integer) {
  return Py_SIZE(integer) * static_cast<Py_ssize_t>(integer->ob_digit[0]);
}
#endif
