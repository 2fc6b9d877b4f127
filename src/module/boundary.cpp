#include "module/boundary.hpp"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "module/gil.hpp"

namespace vantor::py {
namespace {

// Published once by compare-and-swap: two threads may each build a class, and only the first
// stored is ever handed out, so the identity test in fetch_error holds.
constinit std::atomic<PyObject*> panic_type_cell{nullptr};

constexpr const char kPanicDoc[] =
    "The exception raised when native code called from Python panics.\n\n"
    "Like SystemExit, this exception derives from BaseException so that it will typically\n"
    "propagate all the way through the stack and cause the Python interpreter to exit.";

[[noreturn]] void abort_at_boundary() noexcept {
  std::fputs("uncaught panic at ffi boundary\n", stderr);
  std::fflush(stderr);
  std::abort();
}

}  // namespace

std::string text_or(Ref text, const char* fallback) {
  if (text) {
    Py_ssize_t length = 0;
    if (const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &length))
      return std::string(utf8, static_cast<size_t>(length));
  }
  PyErr_Clear();
  return fallback;
}

std::string qualified_name(PyTypeObject* type) {
  return text_or(Ref(PyType_GetQualName(type)), "<failed to extract type name>");
}

void PendingError::raise() && {
  if (exception_) {
    PyErr_SetRaisedException(exception_.release());
    return;
  }
  PyObject* message = PyUnicode_FromStringAndSize(message_.data(), static_cast<Py_ssize_t>(message_.size()));
  if (message == nullptr) return;  // the decoding error stands in its place
  PyErr_SetObject(type_, message);
  Py_DECREF(message);
}

bool PendingError::ordinary() const noexcept {
  PyObject* type = exception_ ? reinterpret_cast<PyObject*>(Py_TYPE(exception_.get())) : type_;
  return PyErr_GivenExceptionMatches(type, PyExc_Exception) && !PyErr_GivenExceptionMatches(type, PyExc_MemoryError);
}

Ref PendingError::into_exception() && {
  if (exception_) return std::move(exception_);
  std::move(*this).raise();
  Ref exception(PyErr_GetRaisedException());
  if (!exception) null_object_failure();
  return exception;
}

PendingError fetch_error() {
  Ref exception(PyErr_GetRaisedException());
  if (!exception) return PendingError(PyExc_SystemError, "attempted to fetch exception but none was set");
  PyObject* panic_type = panic_type_cell.load(std::memory_order_acquire);
  if (panic_type != nullptr && Py_TYPE(exception.get()) == reinterpret_cast<PyTypeObject*>(panic_type)) {
    std::string message = text_or(Ref(PyObject_Str(exception.get())), "Unwrapped panic from Python code");
    std::fputs("--- PanicException from Python code ---\n"
               "Python stack trace below; resuming the internal failure:\n", stderr);
    PyErr_SetRaisedException(exception.release());
    PyErr_PrintEx(0);
    resume_panic(std::move(message));
  }
  return PendingError::from_exception(std::move(exception));
}

PendingError type_mismatch(PyObject* object, const char* expected) {
  std::string message = "'";
  if (object == Py_None) {
    message += "None' is not";
  } else {
    message += qualified_name(Py_TYPE(object));
    message += "' object is not";
  }
  message += " an instance of '";
  message += expected;
  message += "'";
  return PendingError(PyExc_TypeError, std::move(message));
}

PyObject* panic_exception_type() {
  if (PyObject* type = panic_type_cell.load(std::memory_order_acquire)) [[likely]]
    return type;
  PyObject* type = PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", kPanicDoc,
                                             PyExc_BaseException, nullptr);
  if (type == nullptr) null_object_failure();
  return publish_once(panic_type_cell, type);
}

PyObject* interned_cached(std::atomic<PyObject*>& cell, const char* text) {
  if (PyObject* name = cell.load(std::memory_order_acquire)) [[likely]]
    return name;
  return publish_once(cell, checked(PyUnicode_InternFromString(text)).release());
}

void null_object_failure() {
  if (PyErr_Occurred()) PyErr_WriteUnraisable(nullptr);
  internal_failure("PyObject pointer is null");
}

PyObject* interned_name() {
  constinit static std::atomic<PyObject*> cell{nullptr};
  return interned_cached(cell, "__name__");
}
PyObject* interned_all() {
  constinit static std::atomic<PyObject*> cell{nullptr};
  return interned_cached(cell, "__all__");
}
PyObject* interned_add_note() {
  constinit static std::atomic<PyObject*> cell{nullptr};
  return interned_cached(cell, "add_note");
}

Ref new_ascii(const char* text, size_t length) {
  Ref result = checked(PyUnicode_New(static_cast<Py_ssize_t>(length), 127));
  std::memcpy(PyUnicode_1BYTE_DATA(result.get()), text, length);
  return result;
}

void raise_current_panic() {
  std::string message;
  try {
    throw;
  } catch (const Panic& panic) {
    message = panic.message;
  } catch (const std::bad_alloc&) {
    message = "memory allocation failed";
  } catch (...) {
    message = "unknown internal failure";
  }
  // A failure while raising cannot be reported any more. Creating objects may run Python code
  // (a collection), which the interpreter may end.
  try {
    PyObject* type = panic_exception_type();
    Ref text(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    if (!text) abort_at_boundary();
    Ref args(PyTuple_Pack(1, text.get()));
    if (!args) abort_at_boundary();
    PyErr_SetObject(type, args.get());
  }
#ifdef VANTOR_FORCED_UNWIND
  catch (abi::__forced_unwind&) {
    throw;
  }
#endif
  catch (...) {
    abort_at_boundary();
  }
}

}  // namespace vantor::py
