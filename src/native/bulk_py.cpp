// vantor.bulk in native code: many UUIDs per call, as one buffer of 16-byte values or as a list of
// objects. Every result is made in three steps: its container is allocated, the source of values
// starts (a version-7 batch takes its timestamps and counters from the shared state here), and
// the values are filled in chunks. Fills that touch no Python object run without the GIL, in pieces
// with a check for signals between them (module/gil.hpp), so Ctrl-C ends a long call early and its
// partial result is dropped.
#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <type_traits>

#include "native/native.hpp"
#include "hash/md5.hpp"
#include "hash/sha1.hpp"
#include "module/binding.hpp"
#include "module/functions.hpp"
#include "module/gil.hpp"
#include "module/uuid_type.hpp"
#include "platform/platform.hpp"
#include "random/bulk_fill.hpp"
#include "random/thread_rng.hpp"
#include "time/clock.hpp"
#include "time/v7.hpp"
#include "time/v7_reservation.hpp"
#include "uuid/text.hpp"

namespace vantor::py {
namespace {

constexpr size_t kUuidBytes = 16;
// Values made per chunk when objects are built from them: 4 KiB, in the first-level cache.
constexpr size_t kChunk = 256;
// Below this many values the GIL is kept: releasing it costs more than other threads would gain.
constexpr size_t kReleaseGilFrom = 4096;
// Values generated between two checks for signals: 4 MiB, a millisecond or two of work.
constexpr size_t kGeneratedPiece = size_t{1} << 18;
// Names hashed between two checks for signals, and objects built between two.
constexpr size_t kNamePiece = 4096;
constexpr size_t kObjectPiece = 16384;
// Results from this size on are asked to be mapped in large pages.
constexpr size_t kHugePagesFrom = size_t{4} << 20;

[[gnu::cold]] std::string type_name_of(PyObject* object) {
  return text_or(Ref(PyType_GetName(Py_TYPE(object))), "?");
}

// ---- arguments ---------------------------------------------------------------------------------

enum class Format { bytes, uuid, std, str, arrow };

Result<Format> to_format(PyObject* object) {
  if (object == nullptr) return Format::bytes;
  if (!PyUnicode_Check(object)) return fail(PyExc_TypeError, "format must be a str, not " + type_name_of(object));
  static constexpr std::pair<const char*, Format> kNames[] = {
      {"bytes", Format::bytes}, {"uuid", Format::uuid}, {"std", Format::std}, {"str", Format::str}, {"arrow", Format::arrow}};
  for (const auto& [name, format] : kNames)
    if (PyUnicode_CompareWithASCIIString(object, name) == 0) return format;
  Ref shown(PyObject_Repr(object));
  return fail(PyExc_ValueError, "format must be one of 'bytes', 'uuid', 'std', 'str' or 'arrow', not " +
                                    text_or(std::move(shown), "?"));
}

// A count of UUIDs: an int (or an object with __index__) from 0 to the most whose bytes fit in
// one object.
Result<size_t> to_count(PyObject* object) {
  if (PyBool_Check(object) || !PyIndex_Check(object))
    return fail(PyExc_TypeError, "n must be an int, not " + type_name_of(object));
  Ref number(PyNumber_Index(object));
  if (!number) return fail_fetched();
  Ref zero = new_int(0);
  int negative = PyObject_RichCompareBool(number.get(), zero.get(), Py_LT);
  if (negative < 0) return fail_fetched();
  if (negative == 1) {
    Ref shown(PyObject_Str(number.get()));
    return fail(PyExc_ValueError, "n must not be negative, got " + text_or(std::move(shown), "?"));
  }
  Py_ssize_t n = PyLong_AsSsize_t(number.get());
  if (n == -1 && PyErr_Occurred()) {
    PyErr_Clear();
    n = PY_SSIZE_T_MAX;
  }
  if (static_cast<size_t>(n) > static_cast<size_t>(PY_SSIZE_T_MAX) / kUuidBytes) {
    Ref shown(PyObject_Str(number.get()));
    return fail(PyExc_OverflowError, "n is too large: " + text_or(std::move(shown), "?") +
                                         " UUIDs do not fit in memory");
  }
  return static_cast<size_t>(n);
}

// A namespace of either class.
Result<UuidValue> to_namespace(PyObject* object) {
  if (PyObject_TypeCheck(object, uuid_type())) return uuid_value_of(object);
  if (const StdLayout* layout = std_layout(); layout != nullptr && PyObject_TypeCheck(object, layout->type)) {
    Ref number(PyObject_GetAttrString(object, "int"));
    if (!number) return fail_fetched();
    VANTOR_TRY(value, to_u128(number.get()));
    return UuidValue::from_u128(value);
  }
  return fail(with_parameter_note(type_mismatch(object, "UUID"), "namespace"));
}

// A buffer the caller lends us, released on every path.
class BufferView {
 public:
  BufferView() noexcept { view_.obj = nullptr; }
  ~BufferView() {
    if (view_.obj != nullptr && may_touch_objects()) PyBuffer_Release(&view_);
  }
  BufferView(const BufferView&) = delete;
  BufferView& operator=(const BufferView&) = delete;
  Status acquire(PyObject* object, int flags) {
    if (PyObject_GetBuffer(object, &view_, flags) < 0) {
      view_.obj = nullptr;
      return fail_fetched();
    }
    return {};
  }
  Py_buffer& get() noexcept { return view_; }

 private:
  Py_buffer view_;
};

// Whether every bit pattern of the items a buffer format describes is a value of them: bytes,
// integers, floats and complex numbers, and structures of those. Object references ('O'),
// pointers, bools and text are not, and random bytes written over them break their readers
// (an object array crashes the interpreter).
bool plain_data_format(const char* format) {
  if (format == nullptr) return true;  // unsigned bytes
  int depth = 0;
  for (const char* c = format; *c != '\0'; ++c) {
    switch (*c) {
      case '@': case '=': case '<': case '>': case '!': case '^':
      case '0': case '1': case '2': case '3': case '4': case '5': case '6': case '7': case '8': case '9':
      case 'x': case 'c': case 'b': case 'B': case 'h': case 'H': case 'i': case 'I': case 'l': case 'L':
      case 'q': case 'Q': case 'n': case 'N': case 'e': case 'f': case 'd': case 'g': case 's': case 'p':
      case 'Z': case ' ': case '(': case ')': case ',':
        break;
      case 'T':
        if (c[1] != '{') return false;
        ++c;
        ++depth;
        break;
      case '}':
        if (--depth < 0) return false;
        break;
      case ':':  // a field name, up to the next ':'
        while (*++c != ':')
          if (*c == '\0') return false;
        break;
      default:
        return false;
    }
  }
  return depth == 0;
}

// The buffer fill_uuid4/fill_uuid7 write to: writable, C-contiguous, plain data, a whole number
// of UUIDs.
Status acquire_output(PyObject* object, BufferView& buffer, const char* function) {
  if (!PyObject_CheckBuffer(object))
    return fail(PyExc_TypeError, std::string(function) + "() needs a writable buffer (bytearray, memoryview, "
                                                         "numpy array), not " + type_name_of(object));
  VANTOR_CHECK(buffer.acquire(object, PyBUF_FULL_RO));
  Py_buffer& view = buffer.get();
  if (view.readonly) return fail(PyExc_BufferError, std::string(function) + "() needs a writable buffer, and this one is read-only");
  if (!plain_data_format(view.format))
    return fail(PyExc_TypeError, std::string(function) + "() writes raw bytes and needs a buffer of plain data (bytes, "
                                                         "integers or floats), not one whose items have format '" +
                                     view.format + "'");
  if (!PyBuffer_IsContiguous(&view, 'C'))
    return fail(PyExc_BufferError, std::string(function) + "() needs a C-contiguous buffer");
  if (view.len % static_cast<Py_ssize_t>(kUuidBytes) != 0)
    return fail(PyExc_ValueError, std::string(function) + "() needs a buffer whose size is a multiple of 16 bytes, not " +
                                      std::to_string(view.len));
  return {};
}

// ---- sources of values -------------------------------------------------------------------------
// Each has start(n), called once the result's memory exists, and fill(out, count), which writes
// the next `count` values. kNeedsGil says whether fill reads Python objects, kPiece how many
// values are made between two checks for signals.

struct RandomSource {
  static constexpr bool kNeedsGil = false;
  static constexpr size_t kPiece = kGeneratedPiece;
  Stores stores = Stores::cached;
  Status start(size_t) { return {}; }
  Status fill(uint8_t* out, size_t count) {
    fill_uuid4_values(thread_rng(), out, count, stores);
    return {};
  }
};

class TimeSource {
 public:
  static constexpr bool kNeedsGil = false;
  static constexpr size_t kPiece = kGeneratedPiece;

  // Takes the batch's timestamps and counters in one step of the shared state.
  Status start(size_t n) {
    if (n == 0) return {};
    if (n > kV7MaxBatch) return fail(PyExc_OverflowError, "too many version-7 UUIDs in one batch");
    auto reading = now_since_epoch();
    if (!reading) [[unlikely]]
      internal_failure(clock_failure_message(reading.error()));
    batch_ = reserve_v7_values(*reading, n);
    return {};
  }

  Status fill(uint8_t* out, size_t count) {
    uint32_t random[kChunk];
    while (count > 0) {
      const V7Run& run = batch_.runs[run_];
      const size_t k = std::min({count, kChunk, static_cast<size_t>(run.count - used_)});
      thread_rng().fill_bytes(reinterpret_cast<uint8_t*>(random), k * sizeof random[0]);
      write_v7_run({run.timestamp, run.first_counter + used_, k}, random, out);
      out += k * kUuidBytes;
      count -= k;
      used_ += k;
      if (used_ == run.count) {
        ++run_;
        used_ = 0;
      }
    }
    return {};
  }

 private:
  V7Batch batch_{};
  int run_ = 0;
  uint64_t used_ = 0;
};

template <class Hash, uint8_t Version>
UuidValue name_based_value(const UuidValue& namespace_value, const uint8_t* name, size_t length) noexcept {
  Hash hash;
  hash.update(namespace_value.bytes.data(), kUuidBytes);
  hash.update(name, length);
  auto digest = hash.finish();
  return apply_version(UuidValue::from_bytes(digest.data()), Version);
}

// The UTF-8 encoding of code points, written into `out` (4 bytes per code point at most); the
// number of bytes written, or nullopt at a surrogate, which UTF-8 cannot encode.
template <class Unit>
std::optional<size_t> encode_utf8(const Unit* text, size_t count, uint8_t* out) noexcept {
  uint8_t* start = out;
  for (size_t i = 0; i < count; ++i) {
    const uint32_t c = text[i];
    if (c < 0x80) {
      *out++ = static_cast<uint8_t>(c);
    } else if (c < 0x800) {
      *out++ = static_cast<uint8_t>(0xC0 | (c >> 6));
      *out++ = static_cast<uint8_t>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      if (c >= 0xD800 && c <= 0xDFFF) return std::nullopt;
      *out++ = static_cast<uint8_t>(0xE0 | (c >> 12));
      *out++ = static_cast<uint8_t>(0x80 | ((c >> 6) & 0x3F));
      *out++ = static_cast<uint8_t>(0x80 | (c & 0x3F));
    } else {
      *out++ = static_cast<uint8_t>(0xF0 | (c >> 18));
      *out++ = static_cast<uint8_t>(0x80 | ((c >> 12) & 0x3F));
      *out++ = static_cast<uint8_t>(0x80 | ((c >> 6) & 0x3F));
      *out++ = static_cast<uint8_t>(0x80 | (c & 0x3F));
    }
  }
  return static_cast<size_t>(out - start);
}

// The name-based value of a non-ASCII str, hashed as UTF-8 through a small buffer: the text is
// never encoded whole, and the str keeps no UTF-8 copy afterwards (as the interpreter's own
// encoding would leave on it). nullopt at a surrogate.
template <class Hash, uint8_t Version>
std::optional<UuidValue> text_name_value(const UuidValue& namespace_value, PyObject* text) noexcept {
  Hash hash;
  hash.update(namespace_value.bytes.data(), kUuidBytes);
  constexpr size_t kCodePoints = 1024;
  uint8_t encoded[4 * kCodePoints];
  const size_t length = static_cast<size_t>(PyUnicode_GET_LENGTH(text));
  const void* data = PyUnicode_DATA(text);
  const int kind = PyUnicode_KIND(text);
  for (size_t done = 0; done < length; done += kCodePoints) {
    const size_t k = std::min(kCodePoints, length - done);
    std::optional<size_t> bytes =
        kind == PyUnicode_1BYTE_KIND   ? encode_utf8(static_cast<const Py_UCS1*>(data) + done, k, encoded)
        : kind == PyUnicode_2BYTE_KIND ? encode_utf8(static_cast<const Py_UCS2*>(data) + done, k, encoded)
                                       : encode_utf8(static_cast<const Py_UCS4*>(data) + done, k, encoded);
    if (!bytes) return std::nullopt;
    hash.update(encoded, *bytes);
  }
  auto digest = hash.finish();
  return apply_version(UuidValue::from_bytes(digest.data()), Version);
}

// Whether a buffer holds bytes: items of one byte that are numbers or characters ('B', 'b', 'c',
// 's'), as bytes, bytearray, memoryview and array('B') do. Wider items (array('H'), a float or int
// array) would be hashed in the machine's byte order; bools are flags, not bytes; a scalar (a
// numpy.uint8, of no dimension) is a number.
bool holds_bytes(const Py_buffer& view) noexcept {
  if (view.itemsize != 1 || view.ndim == 0) return false;
  const char* format = view.format;
  if (format == nullptr) return true;
  if (*format == '@' || *format == '=' || *format == '<' || *format == '>' || *format == '!') ++format;
  return (format[0] == 'B' || format[0] == 'b' || format[0] == 'c' || format[0] == 's') && format[1] == '\0';
}

// Names from a Python sequence: str (as UTF-8) or bytes-like items.
template <class Hash, uint8_t Version>
class SequenceNames {
 public:
  static constexpr bool kNeedsGil = true;
  static constexpr size_t kPiece = kNamePiece;
  SequenceNames(UuidValue namespace_value, PyObject* fast) noexcept : namespace_(namespace_value), fast_(fast) {}
  Status start(size_t) { return {}; }

  Status fill(uint8_t* out, size_t count) {
    for (size_t i = 0; i < count; ++i, ++next_, out += kUuidBytes) {
      VANTOR_TRY(held, item());
      VANTOR_TRY(value, value_of(held.get()));
      std::memcpy(out, value.bytes.data(), kUuidBytes);
    }
    return {};
  }

 private:
  // A strong reference to the next item. Reading a bytes-like item can run Python code (its
  // __buffer__), and another thread may change a list meanwhile: the list is read afresh each
  // time, and the item is held while it is used.
  Result<Ref> item() {
    const auto index = static_cast<Py_ssize_t>(next_);
#if PY_VERSION_HEX >= 0x030D0000
    if (PyList_Check(fast_)) {
      Ref item(PyList_GetItemRef(fast_, index));
      if (item) return item;
      if (PyErr_ExceptionMatches(PyExc_IndexError)) PyErr_Clear();
      else return fail_fetched();
      return fail(PyExc_RuntimeError, "names changed size while their UUIDs were made");
    }
#endif
    if (index >= PySequence_Fast_GET_SIZE(fast_))
      return fail(PyExc_RuntimeError, "names changed size while their UUIDs were made");
    return Ref::borrow(PySequence_Fast_ITEMS(fast_)[index]);
  }

  Result<UuidValue> value_of(PyObject* item) {
    if (PyUnicode_Check(item)) [[likely]] {
      if (PyUnicode_IS_ASCII(item))
        return name_based_value<Hash, Version>(namespace_, static_cast<const uint8_t*>(PyUnicode_DATA(item)),
                                               static_cast<size_t>(PyUnicode_GET_LENGTH(item)));
      if (std::optional<UuidValue> value = text_name_value<Hash, Version>(namespace_, item)) return *value;
      // A lone surrogate: the interpreter's own encoder reports it.
      Ref encoded(PyUnicode_AsUTF8String(item));
      if (!encoded) return fail(with_parameter_note(fetch_error(), item_name().c_str()));
      internal_failure("a str that UTF-8 cannot encode was encoded");
    }
    if (PyBytes_Check(item))
      return name_based_value<Hash, Version>(namespace_, reinterpret_cast<const uint8_t*>(PyBytes_AS_STRING(item)),
                                             static_cast<size_t>(PyBytes_GET_SIZE(item)));
    // As for a single name, a bytes-like name is a sequence of bytes: a numpy scalar lends its
    // raw bytes too (a datetime64 even as 'B'), but it is a number.
    if (!PyObject_CheckBuffer(item) || !PySequence_Check(item)) return fail(not_a_name(item));
    // Held while it is hashed: a bytearray cannot be resized under the hash.
    BufferView buffer;
    if (Status acquired = buffer.acquire(item, PyBUF_ND | PyBUF_FORMAT); !acquired) {
      // An object whose bytes cannot be had (a numpy datetime64 array) is not a name either; an
      // interrupt or MemoryError is not that answer and propagates.
      if (!acquired.error().ordinary())
        return fail(with_parameter_note(std::move(acquired.error()), item_name().c_str()));
      Ref cause = std::move(acquired.error()).into_exception();
      Ref error = not_a_name(item).into_exception();
      PyException_SetCause(error.get(), cause.release());
      return fail(PendingError::from_exception(std::move(error)));
    }
    const Py_buffer& view = buffer.get();
    if (!holds_bytes(view)) [[unlikely]]
      return fail(PyExc_TypeError, item_name() + " must be str or a bytes-like object of single bytes, not " +
                                       type_name_of(item) + " of format '" + (view.format ? view.format : "B") + "'");
    return name_based_value<Hash, Version>(namespace_, static_cast<const uint8_t*>(view.buf),
                                           static_cast<size_t>(view.len));
  }

  [[gnu::cold]] PendingError not_a_name(PyObject* item) const {
    return PendingError(PyExc_TypeError, item_name() + " must be str or a bytes-like object, not " + type_name_of(item));
  }
  [[gnu::cold]] std::string item_name() const { return "names[" + std::to_string(next_) + "]"; }
  UuidValue namespace_;
  PyObject* fast_;  // borrowed list or tuple
  size_t next_ = 0;
};

// Names as Arrow lays out a string or binary column: n + 1 offsets into one data buffer. Another
// thread may write to the offsets while the names are hashed without the GIL: each offset is read
// once, and checked where it is used, so no value it takes can make a read leave the data.
template <class Hash, uint8_t Version, class Offset>
class OffsetNames {
 public:
  static constexpr bool kNeedsGil = false;
  static constexpr size_t kPiece = kNamePiece;
  OffsetNames(UuidValue namespace_value, const Offset* offsets, const uint8_t* data, size_t data_length) noexcept
      : namespace_(namespace_value), offsets_(offsets), data_(data), data_length_(data_length) {}
  Status start(size_t) {
    begin_ = load(0);
    if (begin_ < 0 || static_cast<uint64_t>(begin_) > data_length_) return fail(bad_offsets());
    return {};
  }
  Status fill(uint8_t* out, size_t count) {
    for (size_t i = 0; i < count; ++i, ++next_, out += kUuidBytes) {
      const Offset end = load(next_ + 1);
      if (end < begin_ || static_cast<uint64_t>(end) > data_length_) [[unlikely]]
        return fail(bad_offsets());
      UuidValue value = name_based_value<Hash, Version>(namespace_, data_ + begin_, static_cast<size_t>(end - begin_));
      std::memcpy(out, value.bytes.data(), kUuidBytes);
      begin_ = end;
    }
    return {};
  }

 private:
  Offset load(size_t index) const noexcept { return __atomic_load_n(offsets_ + index, __ATOMIC_RELAXED); }
  [[gnu::cold]] PendingError bad_offsets() const {
    return PendingError(PyExc_ValueError,
                        "offsets out of order or outside the data, at index " + std::to_string(next_));
  }
  UuidValue namespace_;
  const Offset* offsets_;
  const uint8_t* data_;
  size_t data_length_;
  Offset begin_ = 0;  // where the next name starts, checked
  size_t next_ = 0;
};

// ---- results -----------------------------------------------------------------------------------

// Fails with the interpreter's MemoryError when out of memory, like every bulk format.
Result<Ref> new_hyphenated(const uint8_t* bytes) {
  Ref text(PyUnicode_New(static_cast<Py_ssize_t>(kHyphenatedLength), 127));
  if (!text) [[unlikely]]
    return fail_fetched();
  format_hyphenated(UuidValue::from_bytes(bytes), reinterpret_cast<char*>(PyUnicode_1BYTE_DATA(text.get())));
  return text;
}

template <class Source>
Result<Ref> build_list(Source& source, size_t n, Format format) {
  Ref list(PyList_New(static_cast<Py_ssize_t>(n)));
  if (!list) return fail_fetched();
  VANTOR_CHECK(source.start(n));
  size_t done = 0;
  // A list given up (Ctrl-C) is freed before the interrupt reaches the caller. Cut to the items
  // built, it frees only those: the rest of a large list is pages never written, which the free
  // would otherwise fault in one by one just to read their empty slots.
  auto give_up = [&](PendingError error) {
    Py_SET_SIZE(list.get(), static_cast<Py_ssize_t>(done));
    return fail(std::move(error));
  };
  alignas(64) uint8_t chunk[kChunk * kUuidBytes];
  while (done < n) {
    if (done != 0 && done % kObjectPiece == 0)
      if (Status checked = checkpoint_with_gil(); !checked) [[unlikely]]
        return give_up(std::move(checked.error()));
    const size_t k = std::min(kChunk, n - done);
    if (Status filled = source.fill(chunk, k); !filled) [[unlikely]]
      return give_up(std::move(filled.error()));
    for (size_t i = 0; i < k; ++i, ++done) {
      const uint8_t* bytes = chunk + i * kUuidBytes;
      Result<Ref> item = format == Format::uuid  ? new_uuid(UuidValue::from_bytes(bytes))
                         : format == Format::std ? new_std_uuid(UuidValue::from_bytes(bytes))
                                                 : new_hyphenated(bytes);
      if (!item) [[unlikely]]
        return give_up(std::move(item.error()));
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(done), item->release());
    }
  }
  return list;
}

// Fills n values into `out` in pieces, without the GIL when the source reads no Python object and
// the batch is large. On an interrupt, the values written so far stay.
template <class Source>
Status fill_all(Source& source, uint8_t* out, size_t n) {
  const bool release = !Source::kNeedsGil && n >= kReleaseGilFrom;
  return run_in_pieces(n, Source::kPiece, release, [&](size_t first, size_t count) -> Status {
    return source.fill(out + first * kUuidBytes, count);
  });
}

// "bytes" and "arrow" give the values as one bytes object; vantor.bulk wraps the latter.
template <class Source>
Result<Ref> build(Source& source, size_t n, Format format) {
  if (format == Format::bytes || format == Format::arrow) {
    Ref result(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(n * kUuidBytes)));
    if (!result) return fail_fetched();
    VANTOR_CHECK(source.start(n));
    auto* out = reinterpret_cast<uint8_t*>(PyBytes_AS_STRING(result.get()));
    // A large result is usually fresh memory from the kernel, mapped page by page as it is first
    // written: in large pages that costs a fault per 2 MiB instead of one per 4 KiB.
    if (n * kUuidBytes >= kHugePagesFrom) platform::advise_huge_pages(out, n * kUuidBytes);
    VANTOR_CHECK(fill_all(source, out, n));
    return result;
  }
  return build_list(source, n, format);
}

// ---- functions ---------------------------------------------------------------------------------

constexpr std::string_view kGenerateNames[] = {"n", "format"};
constexpr ArgumentSpec kUuid4Spec{"uuid4", nullptr, kGenerateNames, 1, {}};
constexpr ArgumentSpec kUuid7Spec{"uuid7", nullptr, kGenerateNames, 1, {}};

template <class Source, const ArgumentSpec& Spec>
Result<Ref> generate(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Slots slots;
  VANTOR_CHECK(bind_arguments(Spec, args, nargs, kwnames, slots));
  VANTOR_TRY(n, to_count(slots[0]));
  VANTOR_TRY(format, to_format(slots[1]));
  Source source;
  return build(source, n, format);
}

template <class Source>
Result<Ref> fill_buffer(PyObject* object, const char* function) {
  BufferView buffer;
  VANTOR_CHECK(acquire_output(object, buffer, function));
  const size_t n = static_cast<size_t>(buffer.get().len) / kUuidBytes;
  auto* out = static_cast<uint8_t*>(buffer.get().buf);
  Source source;
  if constexpr (std::is_same_v<Source, RandomSource>)
    if (prefer_streaming_stores(out, n * kUuidBytes)) source.stores = Stores::streaming;
  VANTOR_CHECK(source.start(n));
  VANTOR_CHECK(fill_all(source, out, n));
  return checked(PyLong_FromSize_t(n));
}

Result<Ref> fill_uuid4(PyObject*, PyObject* buffer) { return fill_buffer<RandomSource>(buffer, "fill_uuid4"); }
Result<Ref> fill_uuid7(PyObject*, PyObject* buffer) { return fill_buffer<TimeSource>(buffer, "fill_uuid7"); }

constexpr std::string_view kNameBasedNames[] = {"namespace", "names", "format"};
constexpr ArgumentSpec kUuid3Spec{"uuid3", nullptr, kNameBasedNames, 2, {}};
constexpr ArgumentSpec kUuid5Spec{"uuid5", nullptr, kNameBasedNames, 2, {}};

template <class Hash, uint8_t Version, const ArgumentSpec& Spec>
Result<Ref> name_based(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Slots slots;
  VANTOR_CHECK(bind_arguments(Spec, args, nargs, kwnames, slots));
  VANTOR_TRY(namespace_value, to_namespace(slots[0]));
  PyObject* names = slots[1];
  VANTOR_TRY(format, to_format(slots[2]));
  // One str or bytes is a sequence too, of characters or small ints: almost surely a mistake.
  if (PyUnicode_Check(names) || PyBytes_Check(names) || PyByteArray_Check(names))
    return fail(PyExc_TypeError, "names must be a sequence of names, not a single " + type_name_of(names));
  Ref fast(PySequence_Fast(names, "names must be a sequence of str or bytes-like objects"));
  if (!fast) return fail_fetched();
  SequenceNames<Hash, Version> source(namespace_value, fast.get());
  return build(source, static_cast<size_t>(PySequence_Fast_GET_SIZE(fast.get())), format);
}

// (namespace, offsets, data, format): a column's offsets (n + 1 of them, 32- or 64-bit, as a
// buffer whose item size says which) and its data buffer. vantor.bulk checks the column first.
constexpr std::string_view kOffsetNames[] = {"namespace", "offsets", "data", "format"};
constexpr ArgumentSpec kOffsets3Spec{"uuid3_offsets", nullptr, kOffsetNames, 4, {}};
constexpr ArgumentSpec kOffsets5Spec{"uuid5_offsets", nullptr, kOffsetNames, 4, {}};

template <class Hash, uint8_t Version, const ArgumentSpec& Spec>
Result<Ref> name_based_offsets(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Slots slots;
  VANTOR_CHECK(bind_arguments(Spec, args, nargs, kwnames, slots));
  VANTOR_TRY(namespace_value, to_namespace(slots[0]));
  VANTOR_TRY(format, to_format(slots[3]));
  BufferView offsets, data;
  VANTOR_CHECK(offsets.acquire(slots[1], PyBUF_C_CONTIGUOUS | PyBUF_FORMAT));
  VANTOR_CHECK(data.acquire(slots[2], PyBUF_SIMPLE));
  const Py_buffer& offset_view = offsets.get();
  const Py_ssize_t width = offset_view.itemsize;
  const char* kind = offset_view.format != nullptr ? offset_view.format : "B";
  if (*kind == '@' || *kind == '=' || *kind == '<') ++kind;
  const bool integers = (kind[0] == 'i' || kind[0] == 'l' || kind[0] == 'q') && kind[1] == '\0';
  if (!integers || (width != 4 && width != 8) || offset_view.len < width ||
      reinterpret_cast<uintptr_t>(offset_view.buf) % static_cast<uintptr_t>(width) != 0)
    return fail(PyExc_ValueError, "offsets must hold at least one 32- or 64-bit integer");
  const size_t n = static_cast<size_t>(offset_view.len / width) - 1;
  const auto* bytes = static_cast<const uint8_t*>(data.get().buf);
  const auto length = static_cast<size_t>(data.get().len);
  // The offsets come from a foreign buffer: OffsetNames checks each one as it reads it.
  if (width == 4) {
    OffsetNames<Hash, Version, int32_t> source(namespace_value, static_cast<const int32_t*>(offset_view.buf), bytes, length);
    return build(source, n, format);
  }
  OffsetNames<Hash, Version, int64_t> source(namespace_value, static_cast<const int64_t*>(offset_view.buf), bytes, length);
  return build(source, n, format);
}

// The command line's text: n hyphenated UUIDs, each followed by a newline, as one str.
constexpr std::string_view kLinesNames[] = {"version", "n"};
constexpr ArgumentSpec kLinesSpec{"lines", nullptr, kLinesNames, 2, {}};

template <class Source>
Result<Ref> build_lines(size_t n) {
  constexpr size_t kLine = kHyphenatedLength + 1;
  if (n > static_cast<size_t>(PY_SSIZE_T_MAX) / kLine) return fail(PyExc_OverflowError, "too many lines");
  Ref text(PyUnicode_New(static_cast<Py_ssize_t>(n * kLine), 127));
  if (!text) return fail_fetched();
  Source source;
  VANTOR_CHECK(source.start(n));
  auto* out = reinterpret_cast<char*>(PyUnicode_1BYTE_DATA(text.get()));
  auto write = [&](size_t first, size_t count) -> Status {
    alignas(64) uint8_t chunk[kChunk * kUuidBytes];
    char* line = out + first * kLine;
    for (size_t done = 0; done < count;) {
      const size_t k = std::min(kChunk, count - done);
      (void)source.fill(chunk, k);  // cannot fail
      for (size_t i = 0; i < k; ++i, ++done, line += kLine) {
        format_hyphenated(UuidValue::from_bytes(chunk + i * kUuidBytes), line);
        line[kHyphenatedLength] = '\n';
      }
    }
    return {};
  };
  VANTOR_CHECK(run_in_pieces(n, kGeneratedPiece / 4, n >= kReleaseGilFrom, write));
  return text;
}

Result<Ref> lines(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Slots slots;
  VANTOR_CHECK(bind_arguments(kLinesSpec, args, nargs, kwnames, slots));
  VANTOR_TRY(version, to_u8(slots[0]));
  VANTOR_TRY(n, to_count(slots[1]));
  if (version == 4) return build_lines<RandomSource>(n);
  if (version == 7) return build_lines<TimeSource>(n);
  return fail(PyExc_ValueError, "lines are made for versions 4 and 7 only");
}

template <auto Body>
PyObject* one_argument(PyObject* self, PyObject* argument) {
  return guarded<PyObject*>(nullptr, [&] { return Body(self, argument); });
}

PyMethodDef kBulkFunctions[] = {
    {"uuid4", VANTOR_FASTCALL((generate<RandomSource, kUuid4Spec>)), kFunctionFastcall, "uuid4(n, format='bytes')\n--\n\n"},
    {"uuid7", VANTOR_FASTCALL((generate<TimeSource, kUuid7Spec>)), kFunctionFastcall, "uuid7(n, format='bytes')\n--\n\n"},
    {"fill_uuid4", &one_argument<fill_uuid4>, METH_O, "fill_uuid4(buffer)\n--\n\n"},
    {"fill_uuid7", &one_argument<fill_uuid7>, METH_O, "fill_uuid7(buffer)\n--\n\n"},
    {"uuid3", VANTOR_FASTCALL((name_based<Md5, 3, kUuid3Spec>)), kFunctionFastcall,
     "uuid3(namespace, names, format='bytes')\n--\n\n"},
    {"uuid5", VANTOR_FASTCALL((name_based<Sha1, 5, kUuid5Spec>)), kFunctionFastcall,
     "uuid5(namespace, names, format='bytes')\n--\n\n"},
    {"uuid3_offsets", VANTOR_FASTCALL((name_based_offsets<Md5, 3, kOffsets3Spec>)), kFunctionFastcall,
     "uuid3_offsets(namespace, offsets, data, format)\n--\n\n"},
    {"uuid5_offsets", VANTOR_FASTCALL((name_based_offsets<Sha1, 5, kOffsets5Spec>)), kFunctionFastcall,
     "uuid5_offsets(namespace, offsets, data, format)\n--\n\n"},
    {"lines", VANTOR_FASTCALL(lines), kFunctionFastcall, "lines(version, n)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

std::span<PyMethodDef> bulk_functions() { return kBulkFunctions; }

}  // namespace vantor::py
