// Random generation for Python: uuid4, _uuid4_int, uuid8, reseed.
#include "module/binding.hpp"
#include "module/functions.hpp"
#include "module/uuid_type.hpp"
#include "random/thread_rng.hpp"

namespace vantor::py {
namespace {

// 122 random bits: the draw with version 4 and the RFC 4122 variant written over it.
UuidValue random_v4_value() { return apply_version(UuidValue::from_u128(thread_rng().draw_u128()), 4); }

// ---- functions -------------------------------------------------------------------------------

constexpr std::string_view kUuid8Names[] = {"a", "b", "c"};
constexpr ArgumentSpec kUuid8Spec{"uuid8", nullptr, kUuid8Names, 0, {}};

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
  std::optional<platform::EntropyError> error = thread_rng().reseed();
  if (error) return fail(PyExc_OSError, error->text());
  return new_none();
}

}  // namespace

PyMethodDef uuid4_int_definition = {"_uuid4_int", &noargs<uuid4_int>, kFunctionNoargs, "_uuid4_int()\n--\n\n"};
PyMethodDef uuid4_definition = {"uuid4", &noargs<uuid4>, kFunctionNoargs, "uuid4()\n--\n\n"};
PyMethodDef uuid8_definition = {"uuid8", VANTOR_FASTCALL(uuid8), kFunctionFastcall, "uuid8(a=None, b=None, c=None)\n--\n\n"};
PyMethodDef reseed_definition = {"reseed", &noargs<reseed>, kFunctionNoargs, "reseed()\n--\n\n"};

}  // namespace vantor::py
