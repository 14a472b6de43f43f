// The library's errors as Python exceptions.
#ifndef NUMBRELLE_PYTHON_ERRORS_H_
#define NUMBRELLE_PYTHON_ERRORS_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>

namespace pyintset {

// intset.FormatError, a ValueError: bytes or a file that do not hold a set in the format asked for.
extern PyObject* FormatError;

// Creates FormatError; returns false with an error set when that fails.
bool create_error_types();

// Sets the Python exception for `error`, which is the module's python_error (the error is already set), an
// intset::Exception or std::bad_alloc; returns false, setting nothing, for any other exception. Errors of a
// file give `file_name` (the path as os.fspath() gives it) as their filename, when it is not null.
//   damaged or foreign data (ENumbrelle, ERoaringFormat, EReadError)  FormatError
//   a block limit exceeded (ETooManyBlocks), unordered blocks           ValueError
//   a file that cannot be opened or created (EFOpenError, EFCreateError)
//                                    OSError(errno, the system's message, file name), which Python makes
//                                    FileNotFoundError, PermissionError and so on from the errno
//   a write that failed (EWriteError)                                   OSError(EIO, ..., file name)
//   out of memory (EOutOfMemory, std::bad_alloc)                        MemoryError
//   more members than a count holds (ETooManyMembers)                   OverflowError
bool set_error(std::exception_ptr error, PyObject* file_name = nullptr) noexcept;

// Sets FormatError with the message; with a file name, the message ends with it, as OSError's does, and
// the exception's filename holds it.
void set_format_error(const char* message, PyObject* file_name) noexcept;

// For the C API functions: sets the exception in flight as set_error() does, or SystemError for another
// one. Call inside a catch (const std::exception&) block, never a catch-all: the forced unwind that ends a
// thread at interpreter shutdown (see take_gil_back()) must pass.
void set_error_from_current() noexcept;

}  // namespace pyintset

#endif  // NUMBRELLE_PYTHON_ERRORS_H_
