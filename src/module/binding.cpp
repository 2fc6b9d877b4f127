#include "module/binding.hpp"

#include <cstring>
#include <limits>
#include <vector>
#include <string>

#include "module/int128.hpp"
#include "module/uuid_type.hpp"

namespace vantor::py {
namespace {

std::string display_name(const ArgumentSpec& spec) {
  std::string name;
  if (spec.class_name != nullptr) name = std::string(spec.class_name) + ".";
  return name + spec.function_name + "()";
}

[[gnu::cold]] PendingError too_many_positional(const ArgumentSpec& spec, Py_ssize_t given) {
  size_t count = spec.positional_names.size();
  std::string message = display_name(spec) + " takes ";
  if (spec.required_positional_count == count)
    message += std::to_string(count);
  else
    message += "from " + std::to_string(spec.required_positional_count) + " to " + std::to_string(count);
  message += " positional arguments but " + std::to_string(given) + (given == 1 ? " was" : " were") + " given";
  return PendingError(PyExc_TypeError, std::move(message));
}

[[gnu::cold]] PendingError multiple_values(const ArgumentSpec& spec, std::string_view parameter) {
  return PendingError(PyExc_TypeError, display_name(spec) + " got multiple values for argument '" +
                                           std::string(parameter) + "'");
}

// {key} is the str() of the keyword object, which may not be valid UTF-8 (a lone surrogate), so
// this message is built by the interpreter.
[[gnu::cold]] PendingError unexpected_keyword(const ArgumentSpec& spec, PyObject* key) {
  std::string prefix = display_name(spec);
  Ref message(PyUnicode_FromFormat("%s got an unexpected keyword argument '%S'", prefix.c_str(), key));
  if (!message) return fetch_error();
  Ref exception(PyObject_CallOneArg(PyExc_TypeError, message.get()));
  if (!exception) return fetch_error();
  return PendingError::from_exception(std::move(exception));
}

[[gnu::cold]] PendingError missing_required(const ArgumentSpec& spec, Py_ssize_t nargs, const Slots& slots) {
  std::vector<std::string_view> missing;
  for (size_t i = static_cast<size_t>(nargs); i < spec.required_positional_count; ++i)
    if (slots[i] == nullptr) missing.push_back(spec.positional_names[i]);
  std::string message = display_name(spec) + " missing " + std::to_string(missing.size()) +
                        " required positional " + (missing.size() == 1 ? "argument" : "arguments") + ": ";
  for (size_t i = 0; i < missing.size(); ++i) {
    if (i > 0) {
      if (missing.size() > 2) message += ",";
      message += (i + 1 == missing.size()) ? " and " : " ";
    }
    message += "'" + std::string(missing[i]) + "'";
  }
  return PendingError(PyExc_TypeError, std::move(message));
}

// Parameter names are a few ASCII bytes: an inline loop beats a call to memcmp.
inline bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i]) return false;
  return true;
}

std::string_view slot_name(const ArgumentSpec& spec, size_t slot);

// A name that cannot be interned (no memory) stays empty and is found by its bytes.
[[gnu::cold]] void intern_names(const ArgumentSpec& spec) {
  for (size_t slot = 0; slot < spec.slot_count(); ++slot) {
    std::string_view name = slot_name(spec, slot);
    PyObject* text = PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size()));
    if (text == nullptr) {
      PyErr_Clear();
      continue;
    }
    PyUnicode_InternInPlace(&text);
    spec.interned[slot] = text;  // kept for the life of the process
  }
  spec.interned_ready = true;
}

// Index of the slot a keyword name fills. The interpreter's way: the same interned object first,
// then equal text (a name built at run time, a str subclass), keyword-only names before
// positional ones.
std::optional<size_t> find_slot(const ArgumentSpec& spec, PyObject* key) {
  if (!spec.interned_ready) [[unlikely]]
    intern_names(spec);
  for (size_t slot = 0; slot < spec.slot_count(); ++slot)
    if (spec.interned[slot] == key) [[likely]]
      return slot;
  Py_ssize_t length = 0;
  const char* utf8 = PyUnicode_Check(key) ? utf8_of(key, &length) : nullptr;
  if (utf8 == nullptr) {
    PyErr_Clear();  // a name that cannot be read as UTF-8 matches nothing
    return std::nullopt;
  }
  std::string_view name(utf8, static_cast<size_t>(length));
  for (size_t i = 0; i < spec.keyword_only.size(); ++i)
    if (same_name(spec.keyword_only[i], name)) return spec.positional_names.size() + i;
  for (size_t i = 0; i < spec.positional_names.size(); ++i)
    if (same_name(spec.positional_names[i], name)) return i;
  return std::nullopt;
}

std::string_view slot_name(const ArgumentSpec& spec, size_t slot) {
  size_t positional = spec.positional_names.size();
  return slot < positional ? spec.positional_names[slot] : spec.keyword_only[slot - positional];
}

Status bind_keyword(const ArgumentSpec& spec, PyObject* key, PyObject* value, Slots& slots) {
  std::optional<size_t> slot = find_slot(spec, key);
  if (!slot) return fail(unexpected_keyword(spec, key));
  if (slots[*slot] != nullptr) return fail(multiple_values(spec, slot_name(spec, *slot)));
  slots[*slot] = value;
  return {};
}

Status bind_positional(const ArgumentSpec& spec, PyObject* const* args, Py_ssize_t nargs, Slots& slots) {
  slots.fill(nullptr);
  if (static_cast<size_t>(nargs) > spec.positional_names.size()) [[unlikely]]
    return fail(too_many_positional(spec, nargs));
  for (Py_ssize_t i = 0; i < nargs; ++i) slots[static_cast<size_t>(i)] = args[i];
  return {};
}

Status check_required(const ArgumentSpec& spec, Py_ssize_t nargs, const Slots& slots) {
  for (size_t i = static_cast<size_t>(nargs); i < spec.required_positional_count; ++i)
    if (slots[i] == nullptr) [[unlikely]]
      return fail(missing_required(spec, nargs, slots));
  return {};
}

// The interpreter's conversion to a signed 64-bit integer: its TypeError for what is not an int,
// and the OverflowError that PyLong_AsLong gives beyond that range where a C long has 64 bits.
// PyLong_AsLong itself would stop at 2**31 where long has 32 bits (Windows).
Result<int64_t> to_long(PyObject* object) {
  int overflow = 0;
  long long value = PyLong_AsLongLongAndOverflow(object, &overflow);
  if (overflow != 0) [[unlikely]]
    return fail(PyExc_OverflowError, "Python int too large to convert to C long");
  if (value == -1 && PyErr_Occurred()) [[unlikely]]
    return fail_fetched();
  return static_cast<int64_t>(value);
}

template <class T>
Result<T> to_small_unsigned(PyObject* object) {
  // A one-digit int in range converts the same by either path; anything else (out of range,
  // negative, __index__ objects) takes the interpreter's conversion and its errors.
  if (std::optional<Py_ssize_t> small = compact_int(object);
      small && *small >= 0 && static_cast<size_t>(*small) <= std::numeric_limits<T>::max()) [[likely]]
    return static_cast<T>(*small);
  VANTOR_TRY(value, to_long(object));
  if (value < 0 || static_cast<uint64_t>(value) > std::numeric_limits<T>::max()) [[unlikely]]
    return fail(PyExc_OverflowError, "out of range integral type conversion attempted");
  return static_cast<T>(value);
}

}  // namespace

Status bind_arguments(const ArgumentSpec& spec, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames, Slots& slots) {
  if (Status status = bind_positional(spec, args, nargs, slots); !status) [[unlikely]]
    return status;
  if (kwnames != nullptr) {
    Py_ssize_t count = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t i = 0; i < count; ++i)
      if (Status status = bind_keyword(spec, PyTuple_GET_ITEM(kwnames, i), args[nargs + i], slots); !status)
        return status;
  }
  return check_required(spec, nargs, slots);
}

Status bind_arguments(const ArgumentSpec& spec, PyObject* args, PyObject* kwargs, Slots& slots) {
  Py_ssize_t nargs = PyTuple_GET_SIZE(args);
  if (Status status = bind_positional(spec, &PyTuple_GET_ITEM(args, 0), nargs, slots); !status) [[unlikely]]
    return status;
  if (kwargs != nullptr) {
    Py_ssize_t position = 0;
    PyObject* key;
    PyObject* value;
    while (PyDict_Next(kwargs, &position, &key, &value))
      if (Status status = bind_keyword(spec, key, value, slots); !status) return status;
  }
  return check_required(spec, nargs, slots);
}

PendingError with_parameter_note(PendingError error, const char* parameter) {
  Ref exception = std::move(error).into_exception();
  Ref note(PyUnicode_FromFormat("while processing '%s'", parameter));
  Ref result = note ? Ref(PyObject_CallMethodOneArg(exception.get(), interned_add_note(), note.get())) : Ref();
  if (!result) {
    // A note that cannot be attached is dropped; an interrupt raised meanwhile wins.
    if (Status dropped = discard_error(); !dropped) return std::move(dropped.error());
  }
  return PendingError::from_exception(std::move(exception));
}

Result<const UuidValue*> to_uuid_value(PyObject* object) {
  PyTypeObject* type = uuid_type();
  if (Py_IS_TYPE(object, type) || PyType_IsSubtype(Py_TYPE(object), type)) [[likely]]
    return &uuid_value_of(object);
  return fail(type_mismatch(object, "UUID"));
}

Result<std::string_view> to_text(PyObject* object) {
  if (!PyUnicode_Check(object)) [[unlikely]]
    return fail(type_mismatch(object, "str"));
  Py_ssize_t length = 0;
  const char* utf8 = utf8_of(object, &length);
  if (utf8 == nullptr) [[unlikely]]
    return fail_fetched();
  return std::string_view(utf8, static_cast<size_t>(length));
}

Result<PyObject*> to_bytes_object(PyObject* object) {
  if (!PyBytes_Check(object)) [[unlikely]]
    return fail(type_mismatch(object, "bytes"));
  return object;
}

Result<PyObject*> to_dict_object(PyObject* object) {
  if (!PyDict_Check(object)) [[unlikely]]
    return fail(type_mismatch(object, "dict"));
  return object;
}

Result<uint8_t> to_u8(PyObject* object) { return to_small_unsigned<uint8_t>(object); }
Result<uint16_t> to_u16(PyObject* object) { return to_small_unsigned<uint16_t>(object); }
Result<uint32_t> to_u32(PyObject* object) { return to_small_unsigned<uint32_t>(object); }

Result<uint64_t> to_u64(PyObject* object) {
  if (std::optional<Py_ssize_t> small = compact_int(object); small && *small >= 0) [[likely]]
    return static_cast<uint64_t>(*small);
  Ref index;
  if (!PyLong_Check(object)) {
    index = Ref(PyNumber_Index(object));
    if (!index) return fail_fetched();
    object = index.get();
  }
  unsigned long long value = PyLong_AsUnsignedLongLong(object);
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) [[unlikely]]
    return fail_fetched();
  return static_cast<uint64_t>(value);
}

Result<u128> to_u128(PyObject* object) {
  // An int, subclasses included, is its own index: the interpreter would hand it back unchanged.
  if (PyLong_Check(object)) [[likely]]
    return int_to_u128(object);
  Ref index(PyNumber_Index(object));
  if (!index) [[unlikely]]
    return fail_fetched();
  return int_to_u128(index.get());
}

Result<Fields> to_fields(PyObject* object) {
  if (!PyTuple_Check(object)) [[unlikely]]
    return fail(type_mismatch(object, "tuple"));
  Py_ssize_t size = PyTuple_GET_SIZE(object);
  if (size != 6) [[unlikely]]
    return fail(PyExc_ValueError, "expected tuple of length 6, but got tuple of length " + std::to_string(size));
  auto item = [&](Py_ssize_t i) { return PyTuple_GET_ITEM(object, i); };
  VANTOR_TRY(time_low, to_u32(item(0)));
  VANTOR_TRY(time_mid, to_u16(item(1)));
  VANTOR_TRY(time_hi_version, to_u16(item(2)));
  VANTOR_TRY(clock_seq_hi_variant, to_u8(item(3)));
  VANTOR_TRY(clock_seq_low, to_u8(item(4)));
  VANTOR_TRY(node, to_u64(item(5)));
  return Fields{time_low, time_mid, time_hi_version, clock_seq_hi_variant, clock_seq_low, node};
}

}  // namespace vantor::py
