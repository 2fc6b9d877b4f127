// The module's eleven functions. Each is defined beside its subsystem, with its entry wrapper in
// the same file so that the hot paths inline; module.cpp registers them in this order.
#pragma once

#include "module/boundary.hpp"
#include "time/v7_reservation.hpp"

namespace vantor::py {

extern PyMethodDef uuid1_definition;       // src/time/time_py.cpp
extern PyMethodDef uuid3_definition;       // src/hash/name_py.cpp
extern PyMethodDef uuid4_int_definition;   // src/random/random_py.cpp
extern PyMethodDef uuid4_definition;       // src/random/random_py.cpp
extern PyMethodDef uuid5_definition;       // src/hash/name_py.cpp
extern PyMethodDef uuid6_definition;       // src/time/time_py.cpp
extern PyMethodDef uuid7_definition;       // src/time/time_py.cpp
extern PyMethodDef uuid7_int_definition;   // src/time/time_py.cpp
extern PyMethodDef uuid8_definition;       // src/random/random_py.cpp
extern PyMethodDef getnode_definition;     // src/time/time_py.cpp
extern PyMethodDef reseed_definition;      // src/random/random_py.cpp

// Flags of the module's functions. No METH_STATIC: the interpreter would then report None instead
// of the module as their __self__.
inline constexpr int kFunctionFastcall = METH_FASTCALL | METH_KEYWORDS;
inline constexpr int kFunctionNoargs = METH_NOARGS;

// Registers the fork handlers of the process-wide time state (once per process).
Status register_time_fork_handlers();

// One step of the process-wide version-7 state for a clock reading, and the values of n steps in
// one go for bulk generation; the lock is waited for detached (src/time/time_py.cpp).
V7Step next_v7_step(Timestamp reading);
V7Batch reserve_v7_values(Timestamp reading, uint64_t n);

}  // namespace vantor::py
