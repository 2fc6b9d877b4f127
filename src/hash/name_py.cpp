// Name-based generation for Python: uuid3 (MD5) and uuid5 (SHA-1) of a namespace and a name.
#include <vector>

#include "hash/md5.hpp"
#include "hash/sha1.hpp"
#include "module/binding.hpp"
#include "module/functions.hpp"
#include "module/uuid_type.hpp"

namespace vantor::py {
namespace {

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

}  // namespace

PyMethodDef uuid3_definition = {"uuid3", VANTOR_FASTCALL((name_based<Md5, 3, kUuid3Spec>)), kFunctionFastcall,
                                 "uuid3(namespace, name)\n--\n\n"};
PyMethodDef uuid5_definition = {"uuid5", VANTOR_FASTCALL((name_based<Sha1, 5, kUuid5Spec>)), kFunctionFastcall,
                                 "uuid5(namespace, name)\n--\n\n"};

}  // namespace vantor::py
