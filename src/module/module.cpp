// The extension module `_vantor`: its definition, execution step and public names.
// Start here: the function table below leads to every subsystem.
#include <array>

#include "module/boundary.hpp"
#include "module/functions.hpp"
#include "module/gil.hpp"
#include "module/uuid_type.hpp"

namespace vantor::py {
namespace {

PyMethodDef* const kFunctions[] = {
    &uuid1_definition, &uuid3_definition, &uuid4_int_definition, &uuid4_definition,
    &uuid5_definition, &uuid6_definition, &uuid7_definition, &uuid7_int_definition,
    &uuid8_definition, &getnode_definition, &reseed_definition,
};

struct NamespaceConstant {
  const char* name;
  std::array<uint8_t, 16> bytes;
};

// RFC 4122 appendix C.
constexpr NamespaceConstant kNamespaces[] = {
    {"NAMESPACE_DNS", {0x6b, 0xa7, 0xb8, 0x10, 0x9d, 0xad, 0x11, 0xd1, 0x80, 0xb4, 0x00, 0xc0, 0x4f, 0xd4, 0x30, 0xc8}},
    {"NAMESPACE_URL", {0x6b, 0xa7, 0xb8, 0x11, 0x9d, 0xad, 0x11, 0xd1, 0x80, 0xb4, 0x00, 0xc0, 0x4f, 0xd4, 0x30, 0xc8}},
    {"NAMESPACE_OID", {0x6b, 0xa7, 0xb8, 0x12, 0x9d, 0xad, 0x11, 0xd1, 0x80, 0xb4, 0x00, 0xc0, 0x4f, 0xd4, 0x30, 0xc8}},
    {"NAMESPACE_X500", {0x6b, 0xa7, 0xb8, 0x14, 0x9d, 0xad, 0x11, 0xd1, 0x80, 0xb4, 0x00, 0xc0, 0x4f, 0xd4, 0x30, 0xc8}},
};

constexpr std::pair<const char*, const char*> kVariantTexts[] = {
    {"RESERVED_NCS", "reserved for NCS compatibility"},
    {"RFC_4122", "specified in RFC 4122"},
    {"RESERVED_MICROSOFT", "reserved for Microsoft compatibility"},
    {"RESERVED_FUTURE", "reserved for future definition"},
};

Ref new_str(const char* text) { return checked(PyUnicode_FromString(text)); }

// The module's __all__ list, created on first use.
Result<PyObject*> all_list(PyObject* module) {
  Ref all(PyObject_GetAttr(module, interned_all()));
  if (!all) {
    PendingError error = fetch_error();
    Ref exception = std::move(error).into_exception();
    if (!PyErr_GivenExceptionMatches(exception.get(), PyExc_AttributeError))
      return fail(PendingError::from_exception(std::move(exception)));
    all = checked(PyList_New(0));
    if (PyObject_SetAttr(module, interned_all(), all.get()) < 0) return fail_fetched();
  } else if (!PyList_Check(all.get())) {
    return fail(type_mismatch(all.get(), "list"));
  }
  return all.get();  // the module keeps it alive
}

// The name goes into __all__ before the attribute is set, so a failed assignment leaves it listed.
Status add_to_module(PyObject* module, PyObject* name, PyObject* value) {
  VANTOR_TRY(all, all_list(module));
  if (PyList_Append(all, name) < 0) {
    PyErr_Clear();
    internal_failure("could not append __name__ to __all__");
  }
  if (PyObject_SetAttr(module, name, value) < 0) return fail_fetched();
  return {};
}

Status add_to_module(PyObject* module, const char* name, PyObject* value) {
  return add_to_module(module, new_str(name).get(), value);
}

Status add_function(PyObject* module, PyMethodDef* definition) {
  Ref module_name(PyModule_GetNameObject(module));
  if (!module_name) return fail_fetched();
  Ref function(PyCMethod_New(definition, module, module_name.get(), nullptr));
  if (!function) return fail_fetched();
  share_between_threads(function.get());
  Ref name(PyObject_GetAttr(function.get(), interned_name()));
  if (!name) return fail_fetched();
  if (!PyUnicode_Check(name.get())) return fail(type_mismatch(name.get(), "str"));
  return add_to_module(module, name.get(), function.get());
}

Status add_uuid_constant(PyObject* module, const char* name, const UuidValue& value) {
  Result<Ref> constant = new_uuid(value);
  if (!constant) return fail(std::move(constant.error()));
  return add_to_module(module, name, constant->get());
}

Status set_safe_uuid_unknown(PyObject* module) {
  Ref uuid_name = new_str("uuid");
  Ref uuid_module(PyImport_Import(uuid_name.get()));
  if (!uuid_module) return fail_fetched();
  Ref safe_uuid(PyObject_GetAttrString(uuid_module.get(), "SafeUUID"));
  if (!safe_uuid) return fail_fetched();
  Ref unknown(PyObject_GetAttrString(safe_uuid.get(), "unknown"));
  if (!unknown) return fail_fetched();
  safe_uuid = Ref();
  uuid_module = Ref();
  Ref uuid_class(PyObject_GetAttrString(module, "UUID"));
  if (!uuid_class) return fail_fetched();
  if (PyObject_SetAttrString(uuid_class.get(), "_safe_uuid_unknown", unknown.get()) < 0) return fail_fetched();
  return {};
}

// The UUID type, PanicException, the interned names and the SafeUUID member the type refers to
// are process-wide and hold objects of the interpreter that created them. A second interpreter
// executing the module would overwrite them with its own objects, which die with it.
// Py_mod_multiple_interpreters refuses isolated sub-interpreters; legacy ones are only refused
// here, before anything shared is touched.
Status refuse_sub_interpreter() {
  if (PyInterpreterState_Get() == PyInterpreterState_Main()) [[likely]]
    return {};
  return fail(PyExc_ImportError, "module _vantor does not support loading in subinterpreters");
}

Status exec_module(PyObject* module) {
  VANTOR_CHECK(refuse_sub_interpreter());
  if (!PyModule_Check(module)) return fail(type_mismatch(module, "module"));
  VANTOR_CHECK(register_time_fork_handlers());
  VANTOR_CHECK(install_gil_exit_hook());
  // pyproject.toml's version, which CMakeLists.txt reads: one source for this and the metadata.
  VANTOR_CHECK(add_to_module(module, "__version__", new_str(VANTOR_VERSION).get()));
  VANTOR_TRY(type, create_uuid_type());
  VANTOR_CHECK(add_to_module(module, "UUID", reinterpret_cast<PyObject*>(type)));
  VANTOR_CHECK(set_safe_uuid_unknown(module));
  for (PyMethodDef* definition : kFunctions) VANTOR_CHECK(add_function(module, definition));
  for (const NamespaceConstant& constant : kNamespaces)
    VANTOR_CHECK(add_uuid_constant(module, constant.name, UuidValue::from_bytes(constant.bytes.data())));
  for (const auto& [name, text] : kVariantTexts)
    VANTOR_CHECK(add_to_module(module, name, new_str(text).get()));
  VANTOR_CHECK(add_uuid_constant(module, "NIL", UuidValue{}));
  VANTOR_CHECK(add_uuid_constant(module, "MAX", UuidValue::from_halves(~uint64_t{0}, ~uint64_t{0})));
  return {};
}

PyModuleDef_Slot kModuleSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_slot<exec_module>)},
#ifdef Py_mod_multiple_interpreters
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#endif
#ifdef Py_GIL_DISABLED
    // Process-wide state is published atomically and shared objects are read safely, so the
    // free-threaded interpreter keeps the GIL off when it imports the module.
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef kModuleDefinition = {
    PyModuleDef_HEAD_INIT,
    "_vantor",
    "",
    0,
    nullptr,
    kModuleSlots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace vantor::py

PyMODINIT_FUNC PyInit__vantor(void) { return PyModuleDef_Init(&vantor::py::kModuleDefinition); }
