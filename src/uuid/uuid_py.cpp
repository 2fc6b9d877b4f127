// The UUID class's behaviour: construction, the static factories, properties, conversions,
// comparison, hashing, immutability, set_version and copy/pickle support.
#include <array>

#include "module/binding.hpp"
#include "module/uuid_type.hpp"
#include "uuid/text.hpp"

namespace vantor::py {
namespace {

// ---- construction ------------------------------------------------------------------------

constexpr std::string_view kNewNames[] = {"hex", "bytes", "bytes_le", "fields", "int", "version"};
constexpr ArgumentSpec kNewSpec{"__new__", "UUID", kNewNames, 0, {}};
constexpr std::string_view kHexNames[] = {"hex"};
constexpr ArgumentSpec kFromHexSpec{"from_hex", "UUID", kHexNames, 1, {}};
constexpr std::string_view kIntNames[] = {"int"};
constexpr ArgumentSpec kFromIntSpec{"from_int", "UUID", kIntNames, 1, {}};
constexpr std::string_view kBytesNames[] = {"bytes"};
constexpr ArgumentSpec kFromBytesSpec{"from_bytes", "UUID", kBytesNames, 1, {}};
constexpr ArgumentSpec kFromBytesLeSpec{"from_bytes_le", "UUID", kBytesNames, 1, {}};
constexpr std::string_view kFieldsNames[] = {"fields"};
constexpr ArgumentSpec kFromFieldsSpec{"from_fields", "UUID", kFieldsNames, 1, {}};
constexpr std::string_view kVersionNames[] = {"version"};
constexpr ArgumentSpec kSetVersionSpec{"set_version", "UUID", kVersionNames, 1, {}};
constexpr std::string_view kMemoNames[] = {"_memo"};
constexpr ArgumentSpec kDeepcopySpec{"__deepcopy__", "UUID", kMemoNames, 1, {}};

Result<UuidValue> value_from_text(std::string_view text) {
  std::optional<UuidValue> value = parse_uuid_text(text.data(), text.size());
  if (!value) [[unlikely]]
    return fail(PyExc_ValueError, "badly formed hexadecimal UUID string");
  return *value;
}

// `bytes_object` is a bytes instance; the value is read in network or little-endian order.
Result<UuidValue> value_from_bytes(PyObject* bytes_object, bool little_endian) {
  Py_ssize_t length = PyBytes_GET_SIZE(bytes_object);
  if (length != 16) [[unlikely]]
    return fail(PyExc_ValueError, "expected a sequence of length 16 (got " + std::to_string(length) + ")");
  const auto* data = reinterpret_cast<const uint8_t*>(PyBytes_AS_STRING(bytes_object));
  return little_endian ? UuidValue::from_bytes_le(data) : UuidValue::from_bytes(data);
}

Result<UuidValue> value_from_fields(const Fields& fields) {
  std::optional<UuidValue> value = UuidValue::from_fields(fields);
  if (!value) [[unlikely]]
    return fail(PyExc_ValueError, "field 6 out of range (need a 48-bit value)");
  return *value;
}

Status check_version(uint8_t version) {
  if (version < 1 || version > 8) [[unlikely]]
    return fail(PyExc_ValueError, "illegal version number.");
  return {};
}

// The constructor after binding: conversions in parameter order, then the one-input rule, then
// the value, then the version.
Result<UuidValue> constructed_value(const Slots& slots) {
  VANTOR_TRY(hex, convert_optional<to_text>(slots[0], "hex"));
  VANTOR_TRY(bytes, convert_optional<to_bytes_object>(slots[1], "bytes"));
  VANTOR_TRY(bytes_le, convert_optional<to_bytes_object>(slots[2], "bytes_le"));
  VANTOR_TRY(fields, convert_optional<to_fields>(slots[3], "fields"));
  VANTOR_TRY(integer, convert_optional<to_u128>(slots[4], "int"));
  VANTOR_TRY(version, convert_optional<to_u8>(slots[5], "version"));

  int given = hex.has_value() + bytes.has_value() + bytes_le.has_value() + fields.has_value() + integer.has_value();
  if (given != 1) [[unlikely]]
    return fail(PyExc_TypeError, "one of the hex, bytes, bytes_le, fields, or int arguments must be given");

  Result<UuidValue> value = hex        ? value_from_text(*hex)
                            : bytes    ? value_from_bytes(*bytes, false)
                            : bytes_le ? value_from_bytes(*bytes_le, true)
                            : fields   ? value_from_fields(*fields)
                                       : Result<UuidValue>(UuidValue::from_u128(*integer));
  if (!value) return value;
  if (version) {
    VANTOR_CHECK(check_version(*version));
    *value = apply_version(*value, *version);
  }
  return value;
}

// UUID(text), the common form (and the one unpickling uses): with the other parameters absent,
// converting `hex` and parsing it is the whole of the constructor's work.
bool is_single_text(Py_ssize_t nargs, PyObject* const* args, bool has_keywords) {
  return nargs == 1 && !has_keywords && PyUnicode_Check(args[0]);
}

Result<UuidValue> value_from_single_text(PyObject* text) {
  VANTOR_TRY(utf8, convert<to_text>(text, "hex"));
  return value_from_text(utf8);
}

Result<Ref> uuid_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  if (is_single_text(PyTuple_GET_SIZE(args), &PyTuple_GET_ITEM(args, 0), kwargs != nullptr && PyDict_GET_SIZE(kwargs) > 0)) {
    VANTOR_TRY(value, value_from_single_text(PyTuple_GET_ITEM(args, 0)));
    return wrap_uuid(type, value);
  }
  Slots slots;
  VANTOR_CHECK(bind_arguments(kNewSpec, args, kwargs, slots));
  VANTOR_TRY(value, constructed_value(slots));
  return wrap_uuid(type, value);
}

// The interpreter's ordinary class call (type.__call__), from vectorcall arguments.
[[gnu::cold]] Result<Ref> call_through_type(PyObject* type, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Ref positional = checked(PyTuple_New(nargs));
  for (Py_ssize_t i = 0; i < nargs; ++i) PyTuple_SET_ITEM(positional.get(), i, Py_NewRef(args[i]));
  Ref keywords;
  if (kwnames != nullptr && PyTuple_GET_SIZE(kwnames) > 0) {
    keywords = checked(PyDict_New());
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(kwnames); ++i)
      if (PyDict_SetItem(keywords.get(), PyTuple_GET_ITEM(kwnames, i), args[nargs + i]) < 0) return fail_fetched();
  }
  Ref result(PyType_Type.tp_call(type, positional.get(), keywords.get()));
  if (!result) return fail_fetched();
  return result;
}

// Calling the class itself skips the argument tuple and dict of tp_new; it behaves exactly like
// __new__ (UUID has no __init__ of its own). A subclass, should it inherit this entry, takes the
// interpreter's ordinary path so that its own __init__ runs.
Result<Ref> uuid_call(PyObject* type, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
  Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
  if (reinterpret_cast<PyTypeObject*>(type) != uuid_type()) [[unlikely]]
    return call_through_type(type, args, nargs, kwnames);
  if (is_single_text(nargs, args, kwnames != nullptr && PyTuple_GET_SIZE(kwnames) > 0)) [[likely]] {
    VANTOR_TRY(value, value_from_single_text(args[0]));
    return new_uuid(value);
  }
  Slots slots;
  VANTOR_CHECK(bind_arguments(kNewSpec, args, nargs, kwnames, slots));
  VANTOR_TRY(value, constructed_value(slots));
  return new_uuid(value);
}

PyObject* uuid_vectorcall(PyObject* type, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
  return guarded<PyObject*>(nullptr, [&] { return uuid_call(type, args, nargsf, kwnames); });
}

Result<Ref> from_hex(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Slots slots;
  VANTOR_CHECK(bind_arguments(kFromHexSpec, args, nargs, kwnames, slots));
  VANTOR_TRY(text, convert<to_text>(slots[0], "hex"));
  VANTOR_TRY(value, value_from_text(text));
  return new_uuid(value);
}

Result<Ref> from_int(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Slots slots;
  VANTOR_CHECK(bind_arguments(kFromIntSpec, args, nargs, kwnames, slots));
  VANTOR_TRY(integer, convert<to_u128>(slots[0], "int"));
  return new_uuid(UuidValue::from_u128(integer));
}

template <const ArgumentSpec& Spec, bool LittleEndian>
Result<Ref> from_bytes_any(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Slots slots;
  VANTOR_CHECK(bind_arguments(Spec, args, nargs, kwnames, slots));
  VANTOR_TRY(bytes, convert<to_bytes_object>(slots[0], "bytes"));
  VANTOR_TRY(value, value_from_bytes(bytes, LittleEndian));
  return new_uuid(value);
}

Result<Ref> from_fields(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Slots slots;
  VANTOR_CHECK(bind_arguments(kFromFieldsSpec, args, nargs, kwnames, slots));
  VANTOR_TRY(fields, convert<to_fields>(slots[0], "fields"));
  VANTOR_TRY(value, value_from_fields(fields));
  return new_uuid(value);
}

// ---- methods -------------------------------------------------------------------------------

Result<Ref> set_version(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Slots slots;
  VANTOR_CHECK(bind_arguments(kSetVersionSpec, args, nargs, kwnames, slots));
  VANTOR_TRY(version, convert<to_u8>(slots[0], "version"));
  VANTOR_CHECK(check_version(version));
  return new_uuid(apply_version(uuid_value_of(self), version));
}

Result<Ref> hyphenated_text(PyObject* self) {
  char text[kHyphenatedLength];
  format_hyphenated(uuid_value_of(self), text);
  return new_ascii(text, sizeof text);
}

Result<Ref> getnewargs(PyObject* self) {
  VANTOR_TRY(text, hyphenated_text(self));
  return checked(PyTuple_Pack(1, text.get()));
}

Result<Ref> deepcopy(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Slots slots;
  VANTOR_CHECK(bind_arguments(kDeepcopySpec, args, nargs, kwnames, slots));
  VANTOR_CHECK(convert<to_dict_object>(slots[0], "_memo"));  // an immutable value needs no memo
  Result<Ref> copy = new_uuid(uuid_value_of(self));
  if (!copy) [[unlikely]] {
    std::move(copy.error()).raise();
    null_object_failure();
  }
  return copy;
}

// ---- properties ----------------------------------------------------------------------------

const UuidValue& value(PyObject* self) { return uuid_value_of(self); }

Result<Ref> get_hex(PyObject* self) {
  char text[kSimpleLength];
  format_simple(value(self), text);
  return new_ascii(text, sizeof text);
}
Result<Ref> get_bytes(PyObject* self) { return new_bytes(value(self).bytes.data(), 16); }
Result<Ref> get_bytes_le(PyObject* self) { return new_bytes(value(self).to_bytes_le().data(), 16); }
Result<Ref> get_int(PyObject* self) { return new_int_u128(value(self).to_u128()); }
Result<Ref> get_urn(PyObject* self) {
  char text[kUrnLength];
  format_urn(value(self), text);
  return new_ascii(text, sizeof text);
}
Result<Ref> get_version(PyObject* self) {
  std::optional<uint8_t> version = value(self).version();
  return version ? new_int(*version) : new_none();
}
Result<Ref> get_variant(PyObject* self) {
  static constexpr const char* kTexts[] = {
      "reserved for NCS compatibility", "specified in RFC 4122", "reserved for Microsoft compatibility",
      "reserved for future definition"};
  return checked(PyUnicode_FromString(kTexts[static_cast<int>(value(self).variant())]));
}
Result<Ref> get_node(PyObject* self) { return new_int_u64(value(self).node()); }
Result<Ref> get_time_low(PyObject* self) { return new_int_u64(value(self).time_low()); }
Result<Ref> get_time_mid(PyObject* self) { return new_int(value(self).time_mid()); }
Result<Ref> get_time_hi_version(PyObject* self) { return new_int(value(self).time_hi_version()); }
Result<Ref> get_clock_seq_hi_variant(PyObject* self) { return new_int(value(self).clock_seq_hi_variant()); }
Result<Ref> get_clock_seq_low(PyObject* self) { return new_int(value(self).clock_seq_low()); }
Result<Ref> get_clock_seq(PyObject* self) { return new_int(value(self).clock_seq()); }
Result<Ref> get_time(PyObject* self) { return new_int_u64(value(self).time()); }
Result<Ref> get_timestamp(PyObject* self) {
  std::optional<int64_t> millis = value(self).timestamp();
  if (!millis) [[unlikely]]
    return fail(PyExc_ValueError, "UUID version should be one of (v1, v6 or v7).");
  return checked(PyLong_FromLongLong(*millis));
}
Result<Ref> get_fields(PyObject* self) {
  const UuidValue& v = value(self);
  Ref items[] = {new_int_u64(v.time_low()),          new_int(v.time_mid()),
                 new_int(v.time_hi_version()),       new_int(v.clock_seq_hi_variant()),
                 new_int(v.clock_seq_low()),         new_int_u64(v.node())};
  Ref tuple = checked(PyTuple_New(6));
  for (Py_ssize_t i = 0; i < 6; ++i) PyTuple_SET_ITEM(tuple.get(), i, items[i].release());
  return tuple;
}
Result<Ref> get_is_safe(PyObject* self) {
  constinit static std::atomic<PyObject*> name{nullptr};
  Ref safe(PyObject_GetAttr(reinterpret_cast<PyObject*>(Py_TYPE(self)), interned_cached(name, "_safe_uuid_unknown")));
  if (!safe) return fail_fetched();
  return safe;
}

// ---- slots ---------------------------------------------------------------------------------

Result<Ref> uuid_repr(PyObject* self) {
  char text[kReprLength];
  format_repr(value(self), text);
  return new_ascii(text, sizeof text);
}

// The integer modulo the Mersenne prime 2^61 - 1, as the interpreter hashes an int: since
// 2^64 = 8 (mod 2^61 - 1), high * 2^64 + low folds to high * 8 + low without a 128-bit division.
Result<Py_hash_t> uuid_hash(PyObject* self) {
  constexpr uint64_t kModulus = (uint64_t{1} << 61) - 1;
  const UuidValue& v = value(self);
  uint64_t high = v.high(), low = v.low();
  uint64_t sum = (low & kModulus) + (low >> 61) + ((high << 3) & kModulus) + (high >> 58);
  sum = (sum & kModulus) + (sum >> 61);
  if (sum >= kModulus) sum -= kModulus;
  return static_cast<Py_hash_t>(sum);
}

bool is_uuid(PyObject* object) {
  PyTypeObject* type = uuid_type();
  return Py_IS_TYPE(object, type) || PyType_IsSubtype(Py_TYPE(object), type);
}

Result<Ref> uuid_richcompare(PyObject* self, PyObject* other, int op) {
  if (!is_uuid(other)) return Ref::borrow(Py_NotImplemented);
  const UuidValue& a = value(self);
  const UuidValue& b = value(other);
  // Ordering the (high, low) halves as unsigned numbers is the order of the 128-bit integers.
  auto key = [](const UuidValue& v) { return std::pair(v.high(), v.low()); };
  bool result;
  switch (op) {
    case Py_EQ: result = a == b; break;
    case Py_NE: result = !(a == b); break;
    case Py_LT: result = key(a) < key(b); break;
    case Py_LE: result = key(a) <= key(b); break;
    case Py_GT: result = key(a) > key(b); break;
    case Py_GE: result = key(a) >= key(b); break;
    default: return Ref::borrow(Py_NotImplemented);
  }
  return Ref::borrow(result ? Py_True : Py_False);
}

Status uuid_setattro(PyObject*, PyObject* name, PyObject* assigned) {
  if (assigned == nullptr) return fail(PyExc_AttributeError, "can't delete attribute");
  VANTOR_CHECK(convert<to_text>(name, "_name"));
  return fail(PyExc_TypeError, "UUID objects are immutable");
}

// ---- tables --------------------------------------------------------------------------------

constexpr int kFactoryFlags = METH_FASTCALL | METH_KEYWORDS | METH_STATIC;

PyMethodDef uuid_methods[] = {
    {"set_version", VANTOR_FASTCALL(set_version), METH_FASTCALL | METH_KEYWORDS,
     "set_version($self, version)\n--\n\n"},
    {"__getnewargs__", &noargs<getnewargs>, METH_NOARGS, "__getnewargs__($self)\n--\n\n"},
    {"__deepcopy__", VANTOR_FASTCALL(deepcopy), METH_FASTCALL | METH_KEYWORDS, "__deepcopy__($self, _memo)\n--\n\n"},
    {"from_hex", VANTOR_FASTCALL(from_hex), kFactoryFlags, "from_hex(hex)\n--\n\n"},
    {"from_bytes", VANTOR_FASTCALL((from_bytes_any<kFromBytesSpec, false>)), kFactoryFlags, "from_bytes(bytes)\n--\n\n"},
    {"from_bytes_le", VANTOR_FASTCALL((from_bytes_any<kFromBytesLeSpec, true>)), kFactoryFlags,
     "from_bytes_le(bytes)\n--\n\n"},
    {"from_fields", VANTOR_FASTCALL(from_fields), kFactoryFlags, "from_fields(fields)\n--\n\n"},
    {"from_int", VANTOR_FASTCALL(from_int), kFactoryFlags, "from_int(int)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

#define VANTOR_PROPERTY(name) {#name, &getter<get_##name>, nullptr, nullptr, nullptr}

PyGetSetDef uuid_getset[] = {
    VANTOR_PROPERTY(hex),
    VANTOR_PROPERTY(bytes),
    VANTOR_PROPERTY(bytes_le),
    VANTOR_PROPERTY(int),
    VANTOR_PROPERTY(urn),
    VANTOR_PROPERTY(version),
    VANTOR_PROPERTY(variant),
    VANTOR_PROPERTY(node),
    VANTOR_PROPERTY(time_low),
    VANTOR_PROPERTY(time_mid),
    VANTOR_PROPERTY(time_hi_version),
    VANTOR_PROPERTY(clock_seq_hi_variant),
    VANTOR_PROPERTY(clock_seq_low),
    VANTOR_PROPERTY(clock_seq),
    VANTOR_PROPERTY(time),
    VANTOR_PROPERTY(timestamp),
    VANTOR_PROPERTY(fields),
    VANTOR_PROPERTY(is_safe),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const PyType_Slot kBehaviourSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(&new_slot<uuid_new>)},
    {Py_nb_int, reinterpret_cast<void*>(&unary_slot<get_int>)},
    {Py_tp_str, reinterpret_cast<void*>(&unary_slot<hyphenated_text>)},
    {Py_tp_repr, reinterpret_cast<void*>(&unary_slot<uuid_repr>)},
    {Py_tp_richcompare, reinterpret_cast<void*>(&richcompare_slot<uuid_richcompare>)},
    {Py_tp_hash, reinterpret_cast<void*>(&hash_slot<uuid_hash>)},
    {Py_tp_setattro, reinterpret_cast<void*>(&setattro_slot<uuid_setattro>)},
    {Py_tp_methods, uuid_methods},
    {Py_tp_getset, uuid_getset},
};

}  // namespace

std::span<const PyType_Slot> uuid_behaviour_slots() { return kBehaviourSlots; }

vectorcallfunc uuid_type_vectorcall() { return &uuid_vectorcall; }

}  // namespace vantor::py
