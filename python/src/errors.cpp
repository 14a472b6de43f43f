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
  // filename is None unless the data came from a file.
  const Ref attributes{Py_BuildValue("{s:O}", "filename", Py_None)};
  if (!attributes) return false;
  FormatError = PyErr_NewExceptionWithDoc("intset.FormatError",
                                          "Bytes or a file that do not hold a set in the format asked for.",
                                          PyExc_ValueError, attributes.get());
  return FormatError != nullptr;
}

namespace {

// OSError(errno, message, file name), which Python turns into the subclass for the errno.
void set_os_error(int error_number, const char* message, PyObject* file_name) {
  const Ref error{file_name != nullptr
                      ? PyObject_CallFunction(PyExc_OSError, "isO", error_number, message, file_name)
                      : PyObject_CallFunction(PyExc_OSError, "is", error_number, message)};
  if (error) PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.get())), error.get());
}

// The errno of a system error code, or 0 when it has none.
int errno_of(const std::error_code& code) {
  if (!code) return 0;
  const std::error_condition condition = code.default_error_condition();
  return condition.category() == std::generic_category() ? condition.value() : 0;
}

// The system's text for the error, without the file name (which OSError adds); `otherwise` without one.
void set_file_error(const std::error_code& code, const char* otherwise, PyObject* file_name) {
  const int number = errno_of(code);
  if (number == 0) {
    set_os_error(0, otherwise, file_name);
    return;
  }
  set_os_error(number, std::generic_category().message(number).c_str(), file_name);
}

void set_too_many_blocks(const intset::ETooManyBlocks& e) {
  PyErr_Format(PyExc_ValueError, "The input would need at least %lld block%s, more than the limit of %lld",
               static_cast<long long>(e.needed()), e.needed() == 1 ? "" : "s",
               static_cast<long long>(e.limit()));
}

}  // namespace

void set_format_error(const char* message, PyObject* file_name) noexcept {
  if (file_name == nullptr) {
    PyErr_SetString(FormatError, message);
    return;
  }
  const Ref error{
      PyObject_CallFunction(FormatError, "N", PyUnicode_FromFormat("%s: %R", message, file_name))};
  if (!error) return;
  if (PyObject_SetAttrString(error.get(), "filename", file_name) == 0)
    PyErr_SetObject(FormatError, error.get());
}

bool set_error(std::exception_ptr error, PyObject* file_name) noexcept {
  try {
    std::rethrow_exception(error);
  } catch (const python_error&) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "error raised without an exception set");
  } catch (const intset::ENumbrelle& e) {
    set_format_error(e.what(), file_name);
  } catch (const intset::ERoaringFormat& e) {
    set_format_error(e.what(), file_name);
  } catch (const intset::EReadError& e) {
    set_format_error(e.what(), file_name);
  } catch (const intset::ETooManyBlocks& e) {
    set_too_many_blocks(e);
  } catch (const intset::EUnorderedBlocks& e) {
    PyErr_SetString(PyExc_ValueError, e.what());
  } catch (const intset::EFOpenError& e) {
    set_file_error(e.code(), "cannot open the file", file_name);
  } catch (const intset::EFCreateError& e) {
    set_file_error(e.code(), "cannot create the file", file_name);
  } catch (const intset::EWriteError&) {
    set_file_error(std::make_error_code(std::errc::io_error), "", file_name);
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
