// Name-based generation for Python: uuid3 (MD5) and uuid5 (SHA-1) of a namespace and a name.
#include <algorithm>
#include <span>
#include <vector>

#include "hash/md5.hpp"
#include "hash/sha1.hpp"
#include "module/binding.hpp"
#include "module/functions.hpp"
#include "module/gil.hpp"
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

// A sequence's length is only a hint: a lying __len__ (or a range of 10**12 ints) must not make
// the reservation fail. The items decide the outcome, exactly as for a truthful sequence.
constexpr Py_ssize_t kReserveLimit = 4096;

// The items of a sequence as bytes: each an int from 0 to 255.
Result<std::vector<uint8_t>> bytes_from_sequence(PyObject* sequence) {
  std::vector<uint8_t> bytes;
  Py_ssize_t size = PySequence_Size(sequence);
  if (size >= 0)
    bytes.reserve(static_cast<size_t>(std::min(size, kReserveLimit)));
  else
    VANTOR_CHECK(discard_error());
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
  Ref encoded;                   // keeps `view` alive when a str was encoded for this call

  std::span<const uint8_t> data() const noexcept {
    if (!storage.empty()) return storage;
    return {reinterpret_cast<const uint8_t*>(view.data()), view.size()};
  }
};

// Above this many code points a non-ASCII str is encoded into a temporary bytes object instead
// of through the interpreter's UTF-8 cache, which would stay on the string for its lifetime
// (half a gigabyte more after hashing 256M copies of a two-byte character).
constexpr Py_ssize_t kCachedTextLimit = 16 * 1024;

// Names of at least this many bytes are hashed without the interpreter lock, as hashlib does.
// Every such buffer is immutable or our own copy, so no other thread can change it meanwhile.
constexpr size_t kUnlockedHashMinimum = 64 * 1024;
// Bytes hashed between two checks for signals: a few milliseconds of work.
constexpr size_t kHashPiece = 4 * 1024 * 1024;

// The bytes of a bytearray, copied while it is exported: no other thread can resize it between
// the reading of its address and of its size.
Result<std::vector<uint8_t>> bytearray_copy(PyObject* name) {
  Py_buffer view;
  if (PyObject_GetBuffer(name, &view, PyBUF_SIMPLE) < 0) return fail_fetched();
  const auto* data = static_cast<const uint8_t*>(view.buf);
  std::vector<uint8_t> copy(data, data + view.len);
  PyBuffer_Release(&view);
  return copy;
}

Result<NameBytes> name_as_bytes(PyObject* name) {
  if (PyBytes_Check(name))
    return NameBytes{std::string_view(PyBytes_AS_STRING(name), static_cast<size_t>(PyBytes_GET_SIZE(name))), {}, {}};
  if (PyByteArray_Check(name)) {
    VANTOR_TRY(copy, bytearray_copy(name));
    return NameBytes{{}, std::move(copy), {}};
  }
  if (PyUnicode_Check(name)) return fail(PyExc_TypeError, "Can't extract `str` to `Vec`");
  if (!PySequence_Check(name)) return fail(type_mismatch(name, "Sequence"));
  VANTOR_TRY(bytes, bytes_from_sequence(name));
  return NameBytes{{}, std::move(bytes), {}};
}

[[gnu::cold]] Result<NameBytes> name_from_non_text(PyObject* name, PendingError text_error) {
  // Only ordinary failures are folded into the report; an interrupt or MemoryError propagates.
  if (!text_error.ordinary()) return fail(std::move(text_error));
  Result<NameBytes> bytes = name_as_bytes(name);
  if (bytes || !bytes.error().ordinary()) return bytes;
  Ref as_text = variant_failure("String", std::move(text_error));
  Ref as_bytes = variant_failure("Bytes", std::move(bytes.error()));
  return fail(PyExc_TypeError, "failed to extract enum StringOrBytes ('str | bytes')\n- variant String (str): " +
                                   describe_chain(as_text.get()) + "\n- variant Bytes (bytes): " +
                                   describe_chain(as_bytes.get()));
}

// A name is its UTF-8 text, or the bytes of a bytes-like object or sequence of small ints.
Result<NameBytes> to_name(PyObject* name) {
  if (PyUnicode_Check(name)) [[likely]] {
    if (!PyUnicode_IS_ASCII(name) && PyUnicode_GET_LENGTH(name) > kCachedTextLimit) [[unlikely]] {
      Ref encoded(PyUnicode_AsUTF8String(name));
      if (!encoded) return name_from_non_text(name, fetch_error());
      std::string_view view(PyBytes_AS_STRING(encoded.get()), static_cast<size_t>(PyBytes_GET_SIZE(encoded.get())));
      return NameBytes{view, {}, std::move(encoded)};
    }
    Py_ssize_t length = 0;
    if (const char* utf8 = utf8_of(name, &length))
      return NameBytes{std::string_view(utf8, static_cast<size_t>(length)), {}, {}};
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
  std::span<const uint8_t> data = name.data();
  VANTOR_CHECK(run_in_pieces(data.size(), kHashPiece, data.size() >= kUnlockedHashMinimum,
                             [&](size_t first, size_t count) -> Status {
                               hash.update(data.data() + first, count);
                               return {};
                             }));
  auto digest = hash.finish();
  return new_uuid(apply_version(UuidValue::from_bytes(digest.data()), Version));
}

}  // namespace

PyMethodDef uuid3_definition = {"uuid3", VANTOR_FASTCALL((name_based<Md5, 3, kUuid3Spec>)), kFunctionFastcall,
                                 "uuid3(namespace, name)\n--\n\n"};
PyMethodDef uuid5_definition = {"uuid5", VANTOR_FASTCALL((name_based<Sha1, 5, kUuid5Spec>)), kFunctionFastcall,
                                 "uuid5(namespace, name)\n--\n\n"};

}  // namespace vantor::py
