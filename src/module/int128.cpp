#include "module/int128.hpp"

#include <atomic>
#include <bit>
#include <cstdint>

namespace vantor::py {
namespace {

// The interpreter's own messages for these conversions, so that every version reports alike.
[[gnu::cold, maybe_unused]] std::unexpected<PendingError> negative_int() {
  return fail(PyExc_OverflowError, "can't convert negative int to unsigned");
}
[[gnu::cold, maybe_unused]] std::unexpected<PendingError> int_too_big() {
  return fail(PyExc_OverflowError, "int too big to convert");
}

#if PY_VERSION_HEX >= 0x030E0000
// Signed, in 17 bytes: every value the 16 unsigned ones can hold keeps its top byte 0, a negative
// one sets its top bit, and no edge case of the unsigned forms is left to tell apart.
Result<u128> via_native_bytes(PyObject* integer) {
  unsigned char little[17];
  Py_ssize_t needed = PyLong_AsNativeBytes(integer, little, sizeof little, Py_ASNATIVEBYTES_LITTLE_ENDIAN);
  if (needed < 0) [[unlikely]]
    return fail_fetched();
  if (needed > static_cast<Py_ssize_t>(sizeof little)) [[unlikely]] {
    // Too wide to show its sign in the bytes.
    Ref zero(PyLong_FromLong(0));
    if (!zero) return fail_fetched();
    int below = PyObject_RichCompareBool(integer, zero.get(), Py_LT);
    if (below < 0) return fail_fetched();
    return below ? negative_int() : int_too_big();
  }
  if (little[16] & 0x80) [[unlikely]]
    return negative_int();
  if (little[16] != 0) [[unlikely]]
    return int_too_big();
  u128 value = 0;
  for (int i = 15; i >= 0; --i) value = (value << 8) | little[i];
  return value;
}
#endif

// The width in bits of a 128-bit value. std::bit_width takes no unsigned __int128 in every
// standard library (libstdc++ 12 refuses it in strict mode), so the two halves are counted.
constexpr unsigned bit_width_u128(u128 value) noexcept {
  const uint64_t high = static_cast<uint64_t>(value >> 64);
  return high != 0 ? 64u + static_cast<unsigned>(std::bit_width(high))
                   : static_cast<unsigned>(std::bit_width(static_cast<uint64_t>(value)));
}

// Digits of the layouts CPython builds with: least significant first, native byte order, 30 bits
// in 32 or 15 bits in 16. Fixed widths let the compiler turn the 128-bit shifts into a few
// instructions.
template <class Digit, unsigned Bits>
struct Digits {
  static u128 read(const void* digits, Py_ssize_t count) {
    const Digit* digit = static_cast<const Digit*>(digits);
    u128 value = 0;
    for (Py_ssize_t i = count; i-- > 0;) value = (value << Bits) | digit[i];
    return value;
  }
  // The value's width in bits, from its count of digits and its top digit.
  static size_t width(const void* digits, Py_ssize_t count) {
    const Digit* digit = static_cast<const Digit*>(digits);
    return static_cast<size_t>(count - 1) * Bits + static_cast<size_t>(std::bit_width(digit[count - 1]));
  }
  static Py_ssize_t count_for(u128 value) {
    return static_cast<Py_ssize_t>((bit_width_u128(value) + Bits - 1) / Bits);
  }
  static void write(void* digits, Py_ssize_t count, u128 value) {
    Digit* digit = static_cast<Digit*>(digits);
    for (Py_ssize_t i = 0; i < count; ++i, value >>= Bits) digit[i] = static_cast<Digit>(value & ((Digit{1} << Bits) - 1));
  }
};

#if PY_VERSION_HEX < 0x030E0000
// 3.11 to 3.13: the int's own digits, read and written in place. Its layout is fixed for the life
// of each of these releases, and they offer no public call that is not a byte-by-byte conversion.
// 3.14 and later are reached only through the public export and writer below (int128.hpp makes
// the internals a build error there).
using NativeDigits = Digits<digit, PyLong_SHIFT>;

#if PY_VERSION_HEX >= 0x030C0000
// 3.12 and 3.13: a tag holding the sign and the digit count, then the digits.
constexpr uintptr_t kSignMask = 3, kNegativeSign = 2, kNonSizeBits = 3;

Result<u128> read_in_place(PyObject* integer) {
  const auto& number = reinterpret_cast<PyLongObject*>(integer)->long_value;
  if ((number.lv_tag & kSignMask) == kNegativeSign) [[unlikely]]
    return negative_int();
  const auto count = static_cast<Py_ssize_t>(number.lv_tag >> kNonSizeBits);
  if (count == 0) return u128{0};
  if (NativeDigits::width(number.ob_digit, count) > 128) [[unlikely]]
    return int_too_big();
  return NativeDigits::read(number.ob_digit, count);
}

PyObject* write_in_place(u128 value) {
  Py_ssize_t count = NativeDigits::count_for(value);
  PyLongObject* result = _PyLong_New(count);
  if (result == nullptr) [[unlikely]]
    return nullptr;
  NativeDigits::write(result->long_value.ob_digit, count, value);
  return reinterpret_cast<PyObject*>(result);
}
#else
// 3.11: ob_size is the digit count, negated for a negative value, and the digits follow.
Result<u128> read_in_place(PyObject* integer) {
  const auto* number = reinterpret_cast<PyLongObject*>(integer);
  const Py_ssize_t size = Py_SIZE(number);
  if (size < 0) [[unlikely]]
    return negative_int();
  if (size == 0) return u128{0};
  if (NativeDigits::width(number->ob_digit, size) > 128) [[unlikely]]
    return int_too_big();
  return NativeDigits::read(number->ob_digit, size);
}

PyObject* write_in_place(u128 value) {
  Py_ssize_t count = NativeDigits::count_for(value);
  PyLongObject* result = _PyLong_New(count);
  if (result == nullptr) [[unlikely]]
    return nullptr;
  NativeDigits::write(result->ob_digit, count, value);
  return reinterpret_cast<PyObject*>(result);
}
#endif
#endif

#if PY_VERSION_HEX >= 0x030E0000
using Digits30 = Digits<uint32_t, 30>;
using Digits15 = Digits<uint16_t, 15>;

// Any layout but these two takes the native-bytes path. Found once; threads that find it at the
// same time store the same value.
enum class Layout : uint8_t { unknown, digits30, digits15, other };
constinit std::atomic<Layout> layout_cache{Layout::unknown};

[[gnu::cold]] Layout find_layout() {
  const PyLongLayout* native = PyLong_GetNativeLayout();
  constexpr int kNativeEndianness = std::endian::native == std::endian::little ? -1 : 1;
  Layout layout = Layout::other;
  if (native->digits_order == -1 && native->digit_endianness == kNativeEndianness) {
    if (native->bits_per_digit == 30 && native->digit_size == 4) layout = Layout::digits30;
    if (native->bits_per_digit == 15 && native->digit_size == 2) layout = Layout::digits15;
  }
  layout_cache.store(layout, std::memory_order_relaxed);
  return layout;
}

inline Layout digit_layout() {
  Layout layout = layout_cache.load(std::memory_order_relaxed);
  return layout != Layout::unknown ? layout : find_layout();
}

template <class D>
Result<u128> read_exported(PyObject* integer) {
  PyLongExport exported;
  if (PyLong_Export(integer, &exported) < 0) [[unlikely]]
    return fail_fetched();
  if (exported.digits == nullptr) {
    if (exported.value < 0) return negative_int();
    return static_cast<u128>(static_cast<uint64_t>(exported.value));
  }
  bool negative = exported.negative != 0;
  bool fits = !negative && D::width(exported.digits, exported.ndigits) <= 128;
  u128 value = fits ? D::read(exported.digits, exported.ndigits) : 0;
  PyLong_FreeExport(&exported);
  if (negative) [[unlikely]]
    return negative_int();
  if (!fits) [[unlikely]]
    return int_too_big();
  return value;
}

template <class D>
PyObject* write_new(u128 value) {
  Py_ssize_t count = D::count_for(value);
  void* digits = nullptr;
  PyLongWriter* writer = PyLongWriter_Create(/*negative=*/0, count, &digits);
  if (writer == nullptr) [[unlikely]]
    return nullptr;
  D::write(digits, count, value);
  return PyLongWriter_Finish(writer);
}
#endif

}  // namespace

Result<u128> int_to_u128(PyObject* integer) {
  if (std::optional<Py_ssize_t> small = compact_int(integer)) [[likely]] {
    if (*small < 0) [[unlikely]]
      return negative_int();
    return static_cast<u128>(*small);
  }
#if PY_VERSION_HEX >= 0x030E0000
  // The export lends the digits themselves: no copy, no byte-by-byte loop.
  switch (digit_layout()) {
    case Layout::digits30: return read_exported<Digits30>(integer);
    case Layout::digits15: return read_exported<Digits15>(integer);
    default: return via_native_bytes(integer);
  }
#else
  return read_in_place(integer);
#endif
}

PyObject* make_int_u128(u128 value) noexcept {
  if ((value >> 64) == 0) return PyLong_FromUnsignedLongLong(static_cast<uint64_t>(value));
#if PY_VERSION_HEX >= 0x030E0000
  // A writer hands out the new int's digits to fill: 3 to 5 of them for 65 to 128 bits.
  switch (digit_layout()) {
    case Layout::digits30: return write_new<Digits30>(value);
    case Layout::digits15: return write_new<Digits15>(value);
    default: break;
  }
  unsigned char little[16];
  for (int i = 0; i < 16; ++i) little[i] = static_cast<unsigned char>(value >> (8 * i));
  return PyLong_FromUnsignedNativeBytes(little, sizeof little,
                                        Py_ASNATIVEBYTES_LITTLE_ENDIAN | Py_ASNATIVEBYTES_UNSIGNED_BUFFER);
#else
  return write_in_place(value);
#endif
}

Ref new_int_u128(u128 value) { return checked(make_int_u128(value)); }

}  // namespace vantor::py
