// The extension module `vantor._native`, the second entry point of the shared object that holds
// `_vantor`. The package loads it from that same file, so the dynamic loader hands back the
// same library and both modules share one core and its state.
//
// Its names: std_<name> for vantor.std (only when the standard class has the expected slots),
// bulk_<name> for vantor.bulk, `std_native`, telling which of the two vantor.std uses, and
// `PanicException`, the class of internal failures (the package offers it as
// vantor.PanicException; _vantor itself does not export it), and `isa`, the instruction set the
// generators use (VANTOR_ISA caps it), and `exact_type_or`, a per-value validator whose common case
// runs no Python code (vantor.pydantic).
#include <cstdlib>
#include <string>

#include "native/native.hpp"
#include "module/functions.hpp"
#include "module/gil.hpp"
#include "random/chacha.hpp"

namespace vantor::py {
namespace {

Status add_functions(PyObject* module, std::span<PyMethodDef> table, const char* prefix,
                     const char* public_module) {
  Ref module_name(PyUnicode_FromString(public_module));
  if (!module_name) return fail_fetched();
  for (PyMethodDef& definition : table) {
    if (definition.ml_name == nullptr) break;
    // __module__ is the public module, so the functions introspect and pickle as vantor.std.uuid4
    // and vantor.bulk.uuid4.
    Ref function(PyCMethod_New(&definition, module, module_name.get(), nullptr));
    if (!function) return fail_fetched();
    share_between_threads(function.get());
    std::string attribute = std::string(prefix) + definition.ml_name;
    if (PyModule_AddObjectRef(module, attribute.c_str(), function.get()) < 0) return fail_fetched();
  }
  return {};
}

// The standard class's layout, the fork handlers and the exit hook are process-wide, and the
// class belongs to the interpreter that read it: a sub-interpreter, legacy or isolated, is
// refused before it can take any of them (a layout read there would outlive its class).
Status refuse_sub_interpreter() {
  if (PyInterpreterState_Get() == PyInterpreterState_Main()) [[likely]]
    return {};
  return fail(PyExc_ImportError, "module vantor._native does not support loading in subinterpreters");
}

// The instruction set is chosen once, VANTOR_ISA capping it; a name the processor does not know
// is refused here, at import, rather than quietly run as some other path.
Status add_isa(PyObject* module) {
  const SimdLevel level = simd_level();
  const char* cap = std::getenv("VANTOR_ISA");
  SimdLevel named;
  if (cap != nullptr && *cap != '\0' && !parse_simd_level(cap, named))
    return fail(PyExc_ImportError, std::string("VANTOR_ISA must be one of ") + simd_level_names() +
                                       " on this processor, not '" + cap + "'");
  if (PyModule_AddStringConstant(module, "isa", simd_level_name(level)) < 0) return fail_fetched();
  return {};
}

Status exec_native(PyObject* module) {
  VANTOR_CHECK(refuse_sub_interpreter());
  VANTOR_CHECK(add_isa(module));
  VANTOR_CHECK(register_time_fork_handlers());
  VANTOR_CHECK(install_gil_exit_hook());
  VANTOR_TRY(layout, read_std_layout());
  if (layout) {
    set_std_layout(*layout);
    VANTOR_CHECK(add_functions(module, std_functions(), "std_", "vantor.std"));
  }
  if (PyModule_AddObjectRef(module, "std_native", layout ? Py_True : Py_False) < 0) return fail_fetched();
  VANTOR_CHECK(add_functions(module, bulk_functions(), "bulk_", "vantor.bulk"));
  VANTOR_CHECK(add_functions(module, validator_functions(), "", "vantor._native"));
  if (PyModule_AddObjectRef(module, "PanicException", panic_exception_type()) < 0) return fail_fetched();
  return {};
}

PyModuleDef_Slot kNativeSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_slot<exec_native>)},
#ifdef Py_mod_multiple_interpreters
    // The state is process-wide, like _vantor's.
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#endif
#ifdef Py_GIL_DISABLED
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef kNativeDefinition = {
    PyModuleDef_HEAD_INIT, "vantor._native", "Bulk generation and standard-class UUIDs.", 0, nullptr,
    kNativeSlots, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace vantor::py

PyMODINIT_FUNC PyInit__native(void) { return PyModuleDef_Init(&vantor::py::kNativeDefinition); }
