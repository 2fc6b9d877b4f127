// vantor.std in native code: the generators and conversions that return the standard library's
// uuid.UUID. An instance is allocated directly and its two slots, `int` and `is_safe`, are
// written where the class's own member descriptors would write them; that gives the object the
// state `uuid.UUID(int=...)` would give it, without the constructor's argument handling.
#include <atomic>
#include <cstring>
#include <optional>
#include <string>

#include "native/native.hpp"
#include "module/binding.hpp"
#include "module/functions.hpp"
#include "module/uuid_type.hpp"
#include "random/thread_rng.hpp"
#include "time/clock.hpp"
#include "time/v7.hpp"

namespace vantor::py {
namespace {

// Set by the module's execution step, and published only once complete: a second execution, or
// one racing it in another thread, leaves the first layout in place.
enum class LayoutState : uint8_t { absent, writing, ready };
constinit StdLayout g_layout{};
constinit std::atomic<LayoutState> g_layout_state{LayoutState::absent};

inline bool have_layout() noexcept { return g_layout_state.load(std::memory_order_acquire) == LayoutState::ready; }

// The offset of `name` when the class's own dictionary holds a writable object member for it.
std::optional<Py_ssize_t> object_member_offset(PyTypeObject* type, const char* name) {
  PyObject* dict = type->tp_dict;  // borrowed
  if (dict == nullptr) return std::nullopt;
  PyObject* descriptor = PyDict_GetItemString(dict, name);  // borrowed
  if (descriptor == nullptr || !Py_IS_TYPE(descriptor, &PyMemberDescr_Type)) return std::nullopt;
  auto* member_descriptor = reinterpret_cast<PyMemberDescrObject*>(descriptor);
  if (member_descriptor->d_common.d_type != type) return std::nullopt;
  const PyMemberDef* member = member_descriptor->d_member;
  if (member->type != Py_T_OBJECT_EX || (member->flags & Py_READONLY) != 0) return std::nullopt;
  if (member->offset < static_cast<Py_ssize_t>(sizeof(PyObject)) ||
      member->offset + static_cast<Py_ssize_t>(sizeof(PyObject*)) > type->tp_basicsize)
    return std::nullopt;
  return member->offset;
}

// Where the standard class keeps uuid.UUID(int=...)'s value.
PyObject* int_slot(PyObject* object) {
  return *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(object) + g_layout.int_offset);
}

// The uuid.UUID class itself, layout or not.
Result<Ref> std_class() {
  if (have_layout()) return Ref::borrow(reinterpret_cast<PyObject*>(g_layout.type));
  Ref module(PyImport_ImportModule("uuid"));
  if (!module) return fail_fetched();
  Ref type(PyObject_GetAttrString(module.get(), "UUID"));
  if (!type) return fail_fetched();
  return type;
}

// The value of a standard UUID (or of a subclass, through its `int`) as a vantor.UUID; the class's
// from_int reports an `int` that is not a 128-bit number.
Result<Ref> vantor_from_std(PyObject* object) {
  Ref number;
  if (Py_IS_TYPE(object, g_layout.type) && int_slot(object) != nullptr)
    number = Ref::borrow(int_slot(object));
  else
    number = Ref(PyObject_GetAttrString(object, "int"));
  if (!number) return fail_fetched();
  if (PyLong_CheckExact(number.get())) {
    auto value = to_u128(number.get());
    if (value) return new_uuid(UuidValue::from_u128(*value));
    VANTOR_CHECK(discard_error());  // from_int below reports the out-of-range value
  }
  Ref from_int(PyObject_GetAttrString(reinterpret_cast<PyObject*>(uuid_type()), "from_int"));
  if (!from_int) return fail_fetched();
  Ref result(PyObject_CallOneArg(from_int.get(), number.get()));
  if (!result) return fail_fetched();
  return result;
}

// A vantor.UUID namespace: std namespaces are converted, anything else is left to the generator.
Result<Ref> vantor_namespace(PyObject* namespace_object) {
  if (!PyObject_TypeCheck(namespace_object, uuid_type())) {
    int is_std = PyObject_IsInstance(namespace_object, reinterpret_cast<PyObject*>(g_layout.type));
    if (is_std < 0) return fail_fetched();
    if (is_std == 1) return vantor_from_std(namespace_object);
  }
  return Ref::borrow(namespace_object);
}

// ---- generators --------------------------------------------------------------------------------

// Calls a _vantor function and returns its value as a standard UUID: the arguments, their
// conversions and every message are the generator's own.
template <PyMethodDef& Definition>
Result<Ref> through_vantor(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  auto function = reinterpret_cast<_PyCFunctionFastWithKeywords>(reinterpret_cast<void (*)()>(Definition.ml_meth));
  Ref result(function(self, args, nargs, kwnames));
  if (!result) return fail_fetched();
  return new_std_uuid(uuid_value_of(result.get()));
}

template <PyMethodDef& Definition>
Result<Ref> name_based(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  // The namespace is the first positional argument or the keyword `namespace`.
  const Py_ssize_t total = nargs + (kwnames != nullptr ? PyTuple_GET_SIZE(kwnames) : 0);
  if (total > 2) return through_vantor<Definition>(self, args, nargs, kwnames);
  PyObject* copy[2] = {nullptr, nullptr};
  Ref converted;
  for (Py_ssize_t i = 0; i < total; ++i) {
    copy[i] = args[i];
    bool is_namespace = i == 0 && nargs > 0;
    if (i >= nargs) is_namespace = PyUnicode_CompareWithASCIIString(PyTuple_GET_ITEM(kwnames, i - nargs), "namespace") == 0;
    if (is_namespace) {
      VANTOR_TRY(namespace_ref, vantor_namespace(args[i]));
      converted = std::move(namespace_ref);
      copy[i] = converted.get();
    }
  }
  return through_vantor<Definition>(self, copy, nargs, kwnames);
}

Result<Ref> uuid4(PyObject*) {
  return new_std_uuid(apply_version(UuidValue::from_u128(thread_rng().draw_u128()), 4));
}

constexpr std::string_view kV7KeywordNames[] = {"nanoseconds"};
constexpr ArgumentSpec kUuid7Spec{"uuid7", nullptr, {}, 0, kV7KeywordNames};

Result<Ref> uuid7(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  if (nargs != 0 || kwnames != nullptr) [[unlikely]] {
    Slots slots;
    VANTOR_CHECK(bind_arguments(kUuid7Spec, args, nargs, kwnames, slots));
    VANTOR_TRY(nanoseconds, convert_optional<to_u128>(slots[0], "nanoseconds"));
    if (nanoseconds)
      return new_std_uuid(pack_v7(timestamp_from_nanoseconds(*nanoseconds), std::nullopt, thread_rng().draw_u128()));
  }
  auto reading = now_since_epoch();
  if (!reading) [[unlikely]]
    internal_failure(clock_failure_message(reading.error()));
  V7Step step = next_v7_step(*reading);
  return new_std_uuid(pack_v7(step.timestamp, step.counter, thread_rng().draw_u128()));
}

// ---- conversions -------------------------------------------------------------------------------

[[gnu::cold]] PendingError expects(const char* function, const char* expected, PyObject* object) {
  Ref name(PyType_GetName(Py_TYPE(object)));
  return PendingError(PyExc_TypeError, std::string(function) + "() expects a " + expected + ", not " +
                                           text_or(std::move(name), "?"));
}

Result<Ref> to_std(PyObject*, PyObject* object) {
  if (!PyObject_TypeCheck(object, uuid_type())) return fail(expects("to_std", "vantor.UUID", object));
  Ref is_safe(PyObject_GetAttrString(object, "is_safe"));
  if (!is_safe) return fail_fetched();
  return new_std_uuid(uuid_value_of(object), is_safe.get());
}

Result<Ref> from_std(PyObject*, PyObject* object) {
  VANTOR_TRY(type, std_class());
  int is_instance = PyObject_IsInstance(object, type.get());
  if (is_instance < 0) return fail_fetched();
  if (is_instance == 0) return fail(expects("from_std", "uuid.UUID", object));
  return vantor_from_std(object);
}

template <auto Body>
PyObject* one_argument(PyObject* self, PyObject* argument) {
  return guarded<PyObject*>(nullptr, [&] { return Body(self, argument); });
}

PyMethodDef kStdFunctions[] = {
    {"uuid1", VANTOR_FASTCALL(through_vantor<uuid1_definition>), kFunctionFastcall,
     "uuid1(node=None, clock_seq=None)\n--\n\n"
     "A version 1 UUID (Gregorian time, clock sequence and node) as a `uuid.UUID`."},
    {"uuid3", VANTOR_FASTCALL(name_based<uuid3_definition>), kFunctionFastcall,
     "uuid3(namespace, name)\n--\n\nThe version 3 (MD5) UUID of `name` in `namespace`, as a `uuid.UUID`."},
    {"uuid4", &noargs<uuid4>, kFunctionNoargs, "uuid4()\n--\n\nA random (version 4) UUID as a `uuid.UUID`."},
    {"uuid5", VANTOR_FASTCALL(name_based<uuid5_definition>), kFunctionFastcall,
     "uuid5(namespace, name)\n--\n\nThe version 5 (SHA-1) UUID of `name` in `namespace`, as a `uuid.UUID`."},
    {"uuid6", VANTOR_FASTCALL(through_vantor<uuid6_definition>), kFunctionFastcall,
     "uuid6(node=None, clock_seq=None)\n--\n\n"
     "A version 6 UUID (reordered Gregorian time, sortable) as a `uuid.UUID`."},
    {"uuid7", VANTOR_FASTCALL(uuid7), kFunctionFastcall,
     "uuid7(*, nanoseconds=None)\n--\n\n"
     "A version 7 UUID (Unix time in milliseconds, monotonic) as a `uuid.UUID`."},
    {"uuid8", VANTOR_FASTCALL(through_vantor<uuid8_definition>), kFunctionFastcall,
     "uuid8(a=None, b=None, c=None)\n--\n\n"
     "A version 8 UUID built from `a`, `b` and `c` (random where omitted) as a `uuid.UUID`."},
    {"to_std", &one_argument<to_std>, METH_O,
     "to_std(u)\n--\n\nThe `uuid.UUID` of the same value (and the same `is_safe`) as the vantor UUID `u`."},
    {"from_std", &one_argument<from_std>, METH_O,
     "from_std(u)\n--\n\nThe `vantor.UUID` of the same value as the `uuid.UUID` `u`."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

Result<std::optional<StdLayout>> read_std_layout() {
  Ref module(PyImport_ImportModule("uuid"));
  if (!module) return fail_fetched();
  Ref type_object(PyObject_GetAttrString(module.get(), "UUID"));
  if (!type_object) return fail_fetched();
  Ref safe_uuid(PyObject_GetAttrString(module.get(), "SafeUUID"));
  if (!safe_uuid) return fail_fetched();
  Ref unknown(PyObject_GetAttrString(safe_uuid.get(), "unknown"));
  if (!unknown) return fail_fetched();
  if (!PyType_Check(type_object.get())) return std::optional<StdLayout>();
  auto* type = reinterpret_cast<PyTypeObject*>(type_object.get());
  // A plain collectable instance: fixed size, allocated by the generic allocator.
  if (type->tp_itemsize != 0 || type->tp_alloc != PyType_GenericAlloc || !PyType_IS_GC(type))
    return std::optional<StdLayout>();
  auto int_offset = object_member_offset(type, "int");
  auto is_safe_offset = object_member_offset(type, "is_safe");
  if (!int_offset || !is_safe_offset || *int_offset == *is_safe_offset) return std::optional<StdLayout>();
  return std::optional<StdLayout>(StdLayout{reinterpret_cast<PyTypeObject*>(type_object.release()), *int_offset,
                                            *is_safe_offset, unknown.release()});
}

const StdLayout* std_layout() noexcept { return have_layout() ? &g_layout : nullptr; }

void set_std_layout(const StdLayout& layout) noexcept {
  LayoutState expected = LayoutState::absent;
  if (!g_layout_state.compare_exchange_strong(expected, LayoutState::writing, std::memory_order_acq_rel)) {
    // A second import of the module reads the same class again; keep the first references.
    Py_DECREF(layout.type);
    Py_DECREF(layout.unknown);
    return;
  }
  g_layout = layout;
  g_layout_state.store(LayoutState::ready, std::memory_order_release);
}

Result<Ref> new_std_uuid(const UuidValue& value, PyObject* is_safe) {
  // A bulk "std" result fails like any other allocation when memory runs out.
  Ref number(make_int_u128(value.to_u128()));
  if (!number) [[unlikely]]
    return fail_fetched();
  if (!have_layout()) [[unlikely]] {
    VANTOR_TRY(type, std_class());
    Ref kwargs(PyDict_New());
    if (!kwargs || PyDict_SetItemString(kwargs.get(), "int", number.get()) < 0) return fail_fetched();
    if (is_safe != nullptr && PyDict_SetItemString(kwargs.get(), "is_safe", is_safe) < 0) return fail_fetched();
    Ref empty(PyTuple_New(0));
    if (!empty) return fail_fetched();
    Ref result(PyObject_Call(type.get(), empty.get(), kwargs.get()));
    if (!result) return fail_fetched();
    return result;
  }
  // The allocation object.__new__ makes, without its zeroing and tracking: the body is zeroed
  // here (the weak-reference slot among it) and the two slots are set.
  PyObject* object = _PyObject_GC_New(g_layout.type);
  if (object == nullptr) [[unlikely]]
    return fail_fetched();
  char* base = reinterpret_cast<char*>(object);
  std::memset(base + sizeof(PyObject), 0, static_cast<size_t>(g_layout.type->tp_basicsize) - sizeof(PyObject));
  *reinterpret_cast<PyObject**>(base + g_layout.int_offset) = number.release();
  PyObject* safe = is_safe != nullptr ? is_safe : g_layout.unknown;
  *reinterpret_cast<PyObject**>(base + g_layout.is_safe_offset) = Py_NewRef(safe);
  // The class is collectable because of its slots, but an instance holds only an int and a
  // SafeUUID member and refuses assignment, so it can never close a reference cycle. Left
  // untracked, like a tuple of atomic values, a million of them do not make every later
  // collection walk a million more objects.
  return Ref(object);
}

std::span<PyMethodDef> std_functions() { return kStdFunctions; }

}  // namespace vantor::py
