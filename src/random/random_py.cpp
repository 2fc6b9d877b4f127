// Random and name-based generation for Python: uuid4, _uuid4_int, uuid8, uuid3, uuid5, reseed.
#include <vector>

#include "module/binding.hpp"
#include "module/functions.hpp"
#include "module/uuid_type.hpp"
#include "random/md5.hpp"
#include "random/sha1.hpp"
#include "random/thread_rng.hpp"

namespace vantor::py {
namespace {

// 122 random bits: the draw with version 4 and the RFC 4122 variant written over it.
UuidValue random_v4_value() { return apply_version(UuidValue::from_u128(thread_rng().draw_u128()), 4); }

// ---- name conversion: text or bytes ----------------------------------------------------------

// One failed way of reading the name, kept as an exception object for the report.
Ref variant_failure(const char* variant, PendingError inner) {
  Ref cause = std::move(inner).into_exception();
  Ref error = std::move(PendingError(PyExc_TypeError, std::string("failed to extract field StringOrBytes::") +
                                                          variant + ".0"))
                  .into_exception();
  PyException_SetCause(error.get(), cause.release());
  return error;
}

// "TypeName: message, caused by TypeName: message, ..." along the chain of causes.
std::string describe_chain(PyObject* exception) {
  std::string text;
  for (PyObject* current = exception; current != nullptr && current != Py_None;) {
    if (!text.empty()) text += ", caused by ";
    text += qualified_name(Py_TYPE(current));
    text += ": ";
    text += text_or(Ref(PyObject_Str(current)), "<exception str() failed>");
    Ref cause(PyException_GetCause(current));
    current = cause.get();  // the chain keeps each cause alive
  }
  return text;
}

// The items of a sequence as bytes: each an int from 0 to 255.
Result<std::vector<uint8_t>> bytes_from_sequence(PyObject* sequence) {
  std::vector<uint8_t> bytes;
  Py_ssize_t size = PySequence_Size(sequence);
  if (size >= 0)
    bytes.reserve(static_cast<size_t>(size));
  else
    discard_error();  // only a hint for the allocation
  Ref iterator(PyObject_GetIter(sequence));
  if (!iterator) return fail_fetched();
  while (Ref item{PyIter_Next(iterator.get())}) {
    long value = PyLong_AsLong(item.get());
    if (value == -1 && PyErr_Occurred()) return fail_fetched();
    if (value < 0 || value > 255) return fail(PyExc_OverflowError, "out of range integral type conversion attempted");
    bytes.push_back(static_cast<uint8_t>(value));
  }
  if (PyErr_Occurred()) return fail_fetched();
  return bytes;
}

struct NameBytes {
  std::string_view view;
  std::vector<uint8_t> storage;  // used when the name had to be copied
};

Result<NameBytes> name_as_bytes(PyObject* name) {
  if (PyBytes_Check(name))
    return NameBytes{std::string_view(PyBytes_AS_STRING(name), static_cast<size_t>(PyBytes_GET_SIZE(name))), {}};
  if (PyByteArray_Check(name)) {
    const auto* data = reinterpret_cast<const uint8_t*>(PyByteArray_AS_STRING(name));
    return NameBytes{{}, std::vector<uint8_t>(data, data + PyByteArray_GET_SIZE(name))};
  }
  if (PyUnicode_Check(name)) return fail(PyExc_TypeError, "Can't extract `str` to `Vec`");
  if (!PySequence_Check(name)) return fail(type_mismatch(name, "Sequence"));
  VANTOR_TRY(bytes, bytes_from_sequence(name));
  return NameBytes{{}, std::move(bytes)};
}

[[gnu::cold]] Result<NameBytes> name_from_non_text(PyObject* name, PendingError text_error) {
  Result<NameBytes> bytes = name_as_bytes(name);
  if (bytes) return bytes;
  Ref as_text = variant_failure("String", std::move(text_error));
  Ref as_bytes = variant_failure("Bytes", std::move(bytes.error()));
  return fail(PyExc_TypeError, "failed to extract enum StringOrBytes ('str | bytes')\n- variant String (str): " +
                                   describe_chain(as_text.get()) + "\n- variant Bytes (bytes): " +
                                   describe_chain(as_bytes.get()));
}

// A name is its UTF-8 text, or the bytes of a bytes-like object or sequence of small ints.
Result<NameBytes> to_name(PyObject* name) {
  if (PyUnicode_Check(name)) [[likely]] {
    Py_ssize_t length = 0;
    if (const char* utf8 = utf8_of(name, &length))
      return NameBytes{std::string_view(utf8, static_cast<size_t>(length)), {}};
    return name_from_non_text(name, fetch_error());
  }
  return name_from_non_text(name, type_mismatch(name, "str"));
}

// ---- functions -------------------------------------------------------------------------------

constexpr std::string_view kNameBasedNames[] = {"namespace", "name"};
constexpr ArgumentSpec kUuid3Spec{"uuid3", nullptr, kNameBasedNames, 2, {}};
constexpr ArgumentSpec kUuid5Spec{"uuid5", nullptr, kNameBasedNames, 2, {}};
constexpr std::string_view kUuid8Names[] = {"a", "b", "c"};
constexpr ArgumentSpec kUuid8Spec{"uuid8", nullptr, kUuid8Names, 0, {}};

template <class Hash, uint8_t Version, const ArgumentSpec& Spec>
Result<Ref> name_based(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Slots slots;
  VANTOR_CHECK(bind_arguments(Spec, args, nargs, kwnames, slots));
  VANTOR_TRY(namespace_value, convert<to_uuid_value>(slots[0], "namespace"));
  VANTOR_TRY(name, convert<to_name>(slots[1], "name"));
  Hash hash;
  hash.update(namespace_value->bytes.data(), 16);
  if (name.storage.empty())
    hash.update(reinterpret_cast<const uint8_t*>(name.view.data()), name.view.size());
  else
    hash.update(name.storage.data(), name.storage.size());
  auto digest = hash.finish();
  return new_uuid(apply_version(UuidValue::from_bytes(digest.data()), Version));
}

Result<Ref> uuid4(PyObject*) { return new_uuid(random_v4_value()); }

Result<Ref> uuid4_int(PyObject*) { return new_int_u128(random_v4_value().to_u128()); }

Result<Ref> uuid8(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Slots slots;
  VANTOR_CHECK(bind_arguments(kUuid8Spec, args, nargs, kwnames, slots));
  VANTOR_TRY(a, convert_optional<to_u64>(slots[0], "a"));
  VANTOR_TRY(b, convert_optional<to_u64>(slots[1], "b"));
  VANTOR_TRY(c, convert_optional<to_u64>(slots[2], "c"));
  // Missing fields are drawn only after every given one converted, in the order a, b, c; with
  // all three given the generator is not touched.
  auto field = [](const std::optional<uint64_t>& given) { return given ? *given : thread_rng().draw_u64(); };
  uint64_t a_bits = field(a);
  uint64_t b_bits = field(b);
  uint64_t c_bits = field(c);
  uint64_t high = ((a_bits & 0xFFFF'FFFF'FFFFULL) << 16) | (b_bits & 0x0FFF);
  return new_uuid(apply_version(UuidValue::from_halves(high, c_bits), 8));
}

Result<Ref> reseed(PyObject*) {
  std::optional<EntropyError> error = thread_rng().reseed();
  if (error) return fail(PyExc_OSError, error->text());
  return new_none();
}

}  // namespace

PyMethodDef uuid3_definition = {"uuid3", VANTOR_FASTCALL((name_based<Md5, 3, kUuid3Spec>)), kFunctionFastcall,
                                 "uuid3(namespace, name)\n--\n\n"};
PyMethodDef uuid4_int_definition = {"_uuid4_int", &noargs<uuid4_int>, kFunctionNoargs, "_uuid4_int()\n--\n\n"};
PyMethodDef uuid4_definition = {"uuid4", &noargs<uuid4>, kFunctionNoargs, "uuid4()\n--\n\n"};
PyMethodDef uuid5_definition = {"uuid5", VANTOR_FASTCALL((name_based<Sha1, 5, kUuid5Spec>)), kFunctionFastcall,
                                 "uuid5(namespace, name)\n--\n\n"};
PyMethodDef uuid8_definition = {"uuid8", VANTOR_FASTCALL(uuid8), kFunctionFastcall, "uuid8(a=None, b=None, c=None)\n--\n\n"};
PyMethodDef reseed_definition = {"reseed", &noargs<reseed>, kFunctionNoargs, "reseed()\n--\n\n"};

}  // namespace vantor::py
