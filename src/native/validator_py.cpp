// `exact_type_or(type, fallback)`: a one-argument callable for libraries that call a function per
// value they validate (pydantic's plain validators). It hands back the value itself when its type
// is exactly `type`, and what `fallback(value)` returns for anything else. The common case, an
// object of the class already, then runs no Python frame at all.
#include "native/native.hpp"
#include "module/functions.hpp"
#include "module/gil.hpp"

namespace vantor::py {
namespace {

// `self` is the tuple (type, fallback).
PyObject* exact_type_or_call(PyObject* self, PyObject* value) {
  if (Py_TYPE(value) == reinterpret_cast<PyTypeObject*>(PyTuple_GET_ITEM(self, 0))) [[likely]]
    return Py_NewRef(value);
  return PyObject_CallOneArg(PyTuple_GET_ITEM(self, 1), value);
}

PyMethodDef kExactTypeOrCall = {"exact_type_or", &exact_type_or_call, METH_O,
                                "The value itself if its type is exactly the type given, else fallback(value)."};

Result<Ref> exact_type_or(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  if (nargs != 2 || (kwnames != nullptr && PyTuple_GET_SIZE(kwnames) != 0))
    return fail(PyExc_TypeError, "exact_type_or() takes exactly 2 positional arguments");
  if (!PyType_Check(args[0])) return fail(type_mismatch(args[0], "type"));
  if (!PyCallable_Check(args[1])) return fail(PyExc_TypeError, "exact_type_or() fallback must be callable");
  Ref pair(PyTuple_Pack(2, args[0], args[1]));
  if (!pair) return fail_fetched();
  Ref function(PyCFunction_New(&kExactTypeOrCall, pair.get()));
  if (!function) return fail_fetched();
  share_between_threads(function.get());
  return function;
}

PyMethodDef kValidatorFunctions[] = {
    {"exact_type_or", VANTOR_FASTCALL(exact_type_or), kFunctionFastcall, "exact_type_or(type, fallback)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

std::span<PyMethodDef> validator_functions() { return kValidatorFunctions; }

}  // namespace vantor::py
