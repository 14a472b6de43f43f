// Objects with the buffer protocol read as arrays of integers: any width, signedness, byte order and stride,
// each element read once, without a Python object per element.
#ifndef NUMBRELLE_PYTHON_BUFFERS_H_
#define NUMBRELLE_PYTHON_BUFFERS_H_

#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "set_object.h"

namespace pyintset {

// A buffer asked for as a record of items, released at the end of its scope.
class Buffer {
 public:
  Py_buffer view;
  bool held = false;
  // Asks for the buffer; false, with nothing set, for one that cannot be had as a record of items (numpy's
  // datetime arrays, for one), which is then read as an iterable.
  explicit Buffer(PyObject* object) {
    if (PyObject_GetBuffer(object, &view, PyBUF_RECORDS_RO) == 0) {
      held = true;
      return;
    }
    if (!PyErr_ExceptionMatches(PyExc_ValueError) && !PyErr_ExceptionMatches(PyExc_TypeError) &&
        !PyErr_ExceptionMatches(PyExc_BufferError))
      throw python_error{};
    PyErr_Clear();
  }
  ~Buffer() {
    if (held && !gil_lost) PyBuffer_Release(&view);
  }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
};

struct ElementKind {
  bool is_signed = false;
  bool swap = false;  // stored in the other byte order than the host's
};

// Strips a byte order mark from a struct-module format, noting whether the items are little-endian.
inline const char* without_order(const char* format, bool& little) {
  little = std::endian::native == std::endian::little;
  switch (*format) {
    case '@':
    case '=':
      return format + 1;
    case '<':
      little = true;
      return format + 1;
    case '>':
    case '!':
      little = false;
      return format + 1;
    default:
      return format;
  }
}

// The element type of a buffer from its format: one integer code (or '?', a bool as 0 or 1), optionally
// after a byte order mark; the element's width is the buffer's item size.
inline bool integer_kind(const char* format, ElementKind& kind) {
  bool little;
  format = without_order(format != nullptr ? format : "B", little);
  if (format[0] == '\0' || format[1] != '\0' || std::strchr("bBhHiIlLqQnN?", format[0]) == nullptr)
    return false;
  kind.is_signed = std::strchr("bhilqn", format[0]) != nullptr;
  kind.swap = little != (std::endian::native == std::endian::little);
  return true;
}

// Whether the format is a float or a complex number, none of whose elements is an integer.
inline bool number_kind(const char* format) {
  bool little;
  format = without_order(format != nullptr ? format : "B", little);
  if (format[0] == 'Z') ++format;
  return format[0] != '\0' && format[1] == '\0' && std::strchr("efdg", format[0]) != nullptr;
}

template <class T>
T element_at(const char* at, bool swap) {
  using U = std::make_unsigned_t<T>;
  U u;
  std::memcpy(&u, at, sizeof u);
  if (swap) {
    U swapped = 0;
    for (std::size_t i = 0; i < sizeof u; ++i)
      swapped = static_cast<U>(swapped << 8 | ((u >> (8 * i)) & 0xFF));
    u = swapped;
  }
  return std::bit_cast<T>(u);
}

// A 1-dimensional buffer of integers of 1, 2, 4 or 8 bytes: where its elements are and how they are stored.
struct IntegerBuffer {
  const char* data = nullptr;
  Py_ssize_t size = 0, stride = 0, width = 0;
  ElementKind kind;
};

// The view as an IntegerBuffer; false for any other buffer (more dimensions, another format or width).
inline bool integer_buffer(const Py_buffer& view, IntegerBuffer& out) {
  const Py_ssize_t width = view.itemsize;
  if (view.ndim != 1 || !integer_kind(view.format, out.kind)) return false;
  if (width != 1 && width != 2 && width != 4 && width != 8) return false;
  out.data = static_cast<const char*>(view.buf);
  out.size = view.shape[0];
  out.width = width;
  out.stride = view.strides != nullptr ? view.strides[0] : width;
  return true;
}

// visit(T{}) for the buffer's element type T, one of std::int8_t ... std::uint64_t.
template <class Visit>
decltype(auto) with_element_type(const IntegerBuffer& buffer, Visit&& visit) {
  const bool is_signed = buffer.kind.is_signed;
  switch (buffer.width) {
    case 1:
      return is_signed ? visit(std::int8_t{}) : visit(std::uint8_t{});
    case 2:
      return is_signed ? visit(std::int16_t{}) : visit(std::uint16_t{});
    case 4:
      return is_signed ? visit(std::int32_t{}) : visit(std::uint32_t{});
    default:
      return is_signed ? visit(std::int64_t{}) : visit(std::uint64_t{});
  }
}

// Calls f(i, element) for the elements in order, each read once as a T, while f returns true; returns the
// position where f returned false, or the size. The buffer may be another thread's to change meanwhile: each
// element is then taken as it was at its one reading.
template <class T, class F>
Py_ssize_t for_each_element(const IntegerBuffer& buffer, F&& f) {
  const Py_ssize_t n = buffer.size;
  if (!buffer.kind.swap && buffer.stride == static_cast<Py_ssize_t>(sizeof(T))) {
    for (Py_ssize_t i = 0; i < n; ++i)
      if (!f(i, element_at<T>(buffer.data + i * static_cast<Py_ssize_t>(sizeof(T)), false))) return i;
    return n;
  }
  for (Py_ssize_t i = 0; i < n; ++i)
    if (!f(i, element_at<T>(buffer.data + i * buffer.stride, buffer.kind.swap))) return i;
  return n;
}

}  // namespace pyintset

#endif  // NUMBRELLE_PYTHON_BUFFERS_H_
