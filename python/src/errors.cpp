#include "errors.h"

#include <cerrno>
#include <new>
#include <string>
#include <system_error>

#include "intset/exceptions.h"
#include "intset/roaring_format.h"
#include "set_object.h"

namespace pyintset {

PyObject* FormatError = nullptr;

bool create_error_types() {
  FormatError = PyErr_NewExceptionWithDoc("intset.FormatError",
                                          "Bytes or a file that do not hold a set in the format asked for.",
                                          PyExc_ValueError, nullptr);
  return FormatError != nullptr;
}

namespace {

void set_os_error(int error_number, const std::string& message, PyObject* file_name) {
  // File names in the message are the system's bytes, which need not be UTF-8.
  PyObject* text =
      PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "surrogateescape");
  if (text == nullptr) return;
  PyObject* errno_object = error_number != 0 ? PyLong_FromLong(error_number) : Py_NewRef(Py_None);
  PyObject* error = nullptr;
  if (errno_object != nullptr) {
    error = file_name != nullptr
                ? PyObject_CallFunctionObjArgs(PyExc_OSError, errno_object, text, file_name, nullptr)
                : PyObject_CallFunctionObjArgs(PyExc_OSError, errno_object, text, nullptr);
    Py_DECREF(errno_object);
  }
  Py_DECREF(text);
  if (error == nullptr) return;
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error)), error);
  Py_DECREF(error);
}

// The errno of a system error code, or 0 when it has none.
int errno_of(const std::error_code& code) {
  if (!code) return 0;
  const std::error_condition condition = code.default_error_condition();
  return condition.category() == std::generic_category() ? condition.value() : 0;
}

}  // namespace

bool set_error(std::exception_ptr error, PyObject* file_name) noexcept {
  try {
    std::rethrow_exception(error);
  } catch (const python_error&) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "error raised without an exception set");
  } catch (const intset::ENumbrelle& e) {
    PyErr_SetString(FormatError, e.what());
  } catch (const intset::ERoaringFormat& e) {
    PyErr_SetString(FormatError, e.what());
  } catch (const intset::EReadError& e) {
    PyErr_SetString(FormatError, e.what());
  } catch (const intset::ETooManyBlocks& e) {
    PyErr_SetString(PyExc_ValueError, e.what());
  } catch (const intset::EUnorderedBlocks& e) {
    PyErr_SetString(PyExc_ValueError, e.what());
  } catch (const intset::EFOpenError& e) {
    set_os_error(errno_of(e.code()), e.message(), file_name);
  } catch (const intset::EFCreateError& e) {
    set_os_error(errno_of(e.code()), e.message(), file_name);
  } catch (const intset::EWriteError& e) {
    set_os_error(EIO, e.message(), file_name);
  } catch (const intset::EOutOfMemory&) {
    PyErr_NoMemory();
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const intset::ETooManyMembers& e) {
    PyErr_SetString(PyExc_OverflowError, e.what());
  } catch (const intset::Exception& e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
  } catch (...) {
    return false;
  }
  return true;
}

void set_error_from_current() noexcept {
  if (set_error(std::current_exception())) return;
  try {
    throw;
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_SystemError, e.what());
  } catch (...) {
    PyErr_SetString(PyExc_SystemError, "unknown C++ exception");
  }
}

}  // namespace pyintset
