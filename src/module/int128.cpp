#include "module/int128.hpp"

#include <bit>
#include <cstdint>

namespace vantor::py {
namespace {

// The interpreter's own messages for these conversions, so that every version reports alike.
[[gnu::cold]] std::unexpected<PendingError> negative_int() {
  return fail(PyExc_OverflowError, "can't convert negative int to unsigned");
}
[[gnu::cold]] std::unexpected<PendingError> int_too_big() {
  return fail(PyExc_OverflowError, "int too big to convert");
}

#if PY_VERSION_HEX >= 0x030D0000
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

#if PY_VERSION_HEX >= 0x030E0000
// The digit layout, fixed for the life of the interpreter. Only the layouts CPython builds with
// (least significant digit first, in native byte order, of 16 or 32 bits) are read as digits.
struct DigitLayout {
  unsigned bits = 0;
  unsigned size = 0;
  bool usable = false;
};

const DigitLayout& digit_layout() {
  static const DigitLayout layout = [] {
    const PyLongLayout* native = PyLong_GetNativeLayout();
    DigitLayout result;
    result.bits = native->bits_per_digit;
    result.size = native->digit_size;
    constexpr int kNativeEndianness = std::endian::native == std::endian::little ? -1 : 1;
    result.usable = native->digits_order == -1 && native->digit_endianness == kNativeEndianness &&
                    (result.size == 2 || result.size == 4) && result.bits > 0 && result.bits <= 8 * result.size;
    return result;
  }();
  return layout;
}

template <class Digit>
u128 read_digits(const void* digits, Py_ssize_t count, unsigned bits) {
  const Digit* digit = static_cast<const Digit*>(digits);
  u128 value = 0;
  for (Py_ssize_t i = count; i-- > 0;) value = (value << bits) | digit[i];
  return value;
}

template <class Digit>
void write_digits(void* digits, Py_ssize_t count, unsigned bits, u128 value) {
  Digit* digit = static_cast<Digit*>(digits);
  const u128 mask = (u128{1} << bits) - 1;
  for (Py_ssize_t i = 0; i < count; ++i, value >>= bits) digit[i] = static_cast<Digit>(value & mask);
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
  const DigitLayout& layout = digit_layout();
  if (!layout.usable) [[unlikely]]
    return via_native_bytes(integer);
  PyLongExport exported;
  if (PyLong_Export(integer, &exported) < 0) [[unlikely]]
    return fail_fetched();
  if (exported.digits == nullptr) {
    if (exported.value < 0) return negative_int();
    return static_cast<u128>(static_cast<uint64_t>(exported.value));
  }
  bool negative = exported.negative != 0;
  Py_ssize_t count = exported.ndigits;
  u128 value = 0;
  bool fits = false;
  if (!negative && count > 0) {
    const unsigned char* top = static_cast<const unsigned char*>(exported.digits) + (count - 1) * layout.size;
    uint32_t top_digit = layout.size == 4 ? *reinterpret_cast<const uint32_t*>(top)
                                          : *reinterpret_cast<const uint16_t*>(top);
    size_t width = static_cast<size_t>(count - 1) * layout.bits + static_cast<size_t>(std::bit_width(top_digit));
    fits = width <= 128;
    if (fits)
      value = layout.size == 4 ? read_digits<uint32_t>(exported.digits, count, layout.bits)
                               : read_digits<uint16_t>(exported.digits, count, layout.bits);
  }
  PyLong_FreeExport(&exported);
  if (negative) return negative_int();
  if (!fits) return int_too_big();
  return value;
#elif PY_VERSION_HEX >= 0x030D0000
  return via_native_bytes(integer);
#else
  unsigned char little[16];
  if (_PyLong_AsByteArray(reinterpret_cast<PyLongObject*>(integer), little, 16, /*little_endian=*/1,
                          /*is_signed=*/0) < 0) [[unlikely]]
    return fail_fetched();
  u128 value = 0;
  for (int i = 15; i >= 0; --i) value = (value << 8) | little[i];
  return value;
#endif
}

Ref new_int_u128(u128 value) {
  if ((value >> 64) == 0) return new_int_u64(static_cast<uint64_t>(value));
#if PY_VERSION_HEX >= 0x030E0000
  // A writer hands out the new int's digits to fill: 3 to 5 of them for 65 to 128 bits.
  if (const DigitLayout& layout = digit_layout(); layout.usable) [[likely]] {
    auto count = static_cast<Py_ssize_t>((static_cast<unsigned>(std::bit_width(value)) + layout.bits - 1) / layout.bits);
    void* digits = nullptr;
    PyLongWriter* writer = PyLongWriter_Create(/*negative=*/0, count, &digits);
    if (writer == nullptr) null_object_failure();
    if (layout.size == 4)
      write_digits<uint32_t>(digits, count, layout.bits, value);
    else
      write_digits<uint16_t>(digits, count, layout.bits, value);
    return checked(PyLongWriter_Finish(writer));
  }
#endif
  unsigned char little[16];
  for (int i = 0; i < 16; ++i) little[i] = static_cast<unsigned char>(value >> (8 * i));
#if PY_VERSION_HEX >= 0x030D0000
  return checked(PyLong_FromUnsignedNativeBytes(little, sizeof little,
                                                Py_ASNATIVEBYTES_LITTLE_ENDIAN | Py_ASNATIVEBYTES_UNSIGNED_BUFFER));
#else
  return checked(_PyLong_FromByteArray(little, sizeof little, /*little_endian=*/1, /*is_signed=*/0));
#endif
}

}  // namespace vantor::py
