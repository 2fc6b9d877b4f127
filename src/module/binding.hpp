// Argument binding and conversion: each callable that takes arguments has a static ArgumentSpec;
// bind_arguments fills one slot per parameter (borrowed references, nullptr when absent), and the
// converters turn a slot into its native type.
#pragma once

#include <array>
#include <atomic>
#include <optional>
#include <span>
#include <string_view>

#include "module/boundary.hpp"

namespace vantor::py {

inline constexpr size_t kMaxSlots = 6;

struct ArgumentSpec {
  const char* function_name;
  const char* class_name;  // "UUID" for the class's callables, nullptr for module functions
  std::span<const std::string_view> positional_names;
  size_t required_positional_count;
  std::span<const std::string_view> keyword_only;
  // Each slot's name as an interned str, made on first use: callers' keyword names are interned
  // too, so a pointer comparison nearly always finds the slot. Threads that intern at the same
  // time store the same objects; the flag is set (release) after every slot.
  mutable std::array<std::atomic<PyObject*>, kMaxSlots> interned{};
  mutable std::atomic<bool> interned_ready{false};

  size_t slot_count() const noexcept { return positional_names.size() + keyword_only.size(); }
};
using Slots = std::array<PyObject*, kMaxSlots>;

// The vectorcall form: keyword values follow the positional ones in `args`.
Status bind_arguments(const ArgumentSpec& spec, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames, Slots& slots);
// The tp_new form: an argument tuple and a keyword dict (or nullptr).
Status bind_arguments(const ArgumentSpec& spec, PyObject* args, PyObject* kwargs, Slots& slots);

// The UTF-8 text of a str, or nullptr with the interpreter's error set (a lone surrogate). ASCII
// strings (keywords, UUID texts, most names) are their own UTF-8 and are read in place.
inline const char* utf8_of(PyObject* text, Py_ssize_t* length) {
  if (PyUnicode_IS_ASCII(text)) [[likely]] {
    *length = PyUnicode_GET_LENGTH(text);
    return static_cast<const char*>(PyUnicode_DATA(text));
  }
  return PyUnicode_AsUTF8AndSize(text, length);
}

// Converters: each accepts exactly the objects of its native type.
Result<const UuidValue*> to_uuid_value(PyObject* object);
Result<std::string_view> to_text(PyObject* object);
Result<PyObject*> to_bytes_object(PyObject* object);  // borrowed
Result<PyObject*> to_dict_object(PyObject* object);   // borrowed
Result<uint8_t> to_u8(PyObject* object);
Result<uint16_t> to_u16(PyObject* object);
Result<uint32_t> to_u32(PyObject* object);
Result<uint64_t> to_u64(PyObject* object);
Result<u128> to_u128(PyObject* object);
Result<Fields> to_fields(PyObject* object);

// Attaches "while processing '{parameter}'" to a conversion failure.
[[gnu::cold]] PendingError with_parameter_note(PendingError error, const char* parameter);

// Converts a bound argument; a failure carries the parameter's note.
template <auto Converter>
[[gnu::always_inline]] inline auto convert(PyObject* slot, const char* parameter) -> decltype(Converter(slot)) {
  auto result = Converter(slot);
  if (!result) [[unlikely]]
    return fail(with_parameter_note(std::move(result.error()), parameter));
  return result;
}

// The same for an optional parameter: absent or None gives nullopt.
template <auto Converter>
[[gnu::always_inline]] inline auto convert_optional(PyObject* slot, const char* parameter)
    -> Result<std::optional<typename decltype(Converter(slot))::value_type>> {
  if (slot == nullptr || slot == Py_None) return std::nullopt;
  auto result = convert<Converter>(slot, parameter);
  if (!result) [[unlikely]]
    return fail(std::move(result.error()));
  return *std::move(result);
}

}  // namespace vantor::py
