// The module's functions, implemented beside their subsystems and registered by module.cpp.
#pragma once

#include "module/boundary.hpp"

namespace vantor::py {

using FastcallBody = Result<Ref> (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

}  // namespace vantor::py
