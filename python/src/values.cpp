#include "values.h"

#include <bit>
#include <climits>
#include <cstring>
#include <limits>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

namespace pyintset {

namespace {

constexpr long long kLowest = std::numeric_limits<std::int32_t>::min();
constexpr long long kHighest = std::numeric_limits<std::int32_t>::max();

// 1 with `value` set for an int in the range, 0 for an int out of it, -1 with an error set.
int int32_of_int(PyObject* integer, std::int32_t& value) {
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(integer, &overflow);
  if (overflow != 0) return 0;
  if (v == -1 && PyErr_Occurred()) return -1;
  if (v < kLowest || v > kHighest) return 0;
  value = static_cast<std::int32_t>(v);
  return 1;
}

// A Python int as a long long, saturated at its limits.
long long saturated(PyObject* integer) {
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(integer, &overflow);
  if (overflow != 0) return overflow > 0 ? LLONG_MAX : LLONG_MIN;
  if (v == -1) throw_if_error();
  return v;
}

[[noreturn]] void raise_out_of_range(PyObject* object) {
  raise(PyExc_OverflowError, "%R is outside the range of IntSet members, [-2147483648, 2147483647]", object);
}

// --- Ranges ---------------------------------------------------------------------------------------------

// A range of step 1 as one range of the set; false (nothing done) for other steps.
bool add_range_object(PyObject* range, Operand::Mode mode, intset::tnumbrelle& set, bool& others) {
  struct Attribute {
    PyObject* object;
    ~Attribute() { Py_XDECREF(object); }
  };
  const Attribute step{PyObject_GetAttrString(range, "step")};
  if (step.object == nullptr) throw python_error{};
  if (saturated(step.object) != 1) return false;
  const Attribute start{PyObject_GetAttrString(range, "start")}, stop{PyObject_GetAttrString(range, "stop")};
  if (start.object == nullptr || stop.object == nullptr) throw python_error{};
  const long long lo = saturated(start.object), end = saturated(stop.object);
  if (lo >= end) return true;
  if (mode == Operand::Mode::insert) {
    if (lo < kLowest) raise_out_of_range(start.object);
    if (end - 1 > kHighest)
      raise(PyExc_OverflowError, "range %R reaches past 2147483647, the largest IntSet member", range);
  } else {
    others = lo < kLowest || end - 1 > kHighest;
  }
  const long long first = std::max(lo, kLowest), last = std::min(end - 1, kHighest);
  if (first <= last) set.include_range(static_cast<std::int32_t>(first), static_cast<std::int32_t>(last));
  return true;
}

// --- Buffers --------------------------------------------------------------------------------------------

class Buffer {
 public:
  explicit Buffer(PyObject* object) {
    if (PyObject_GetBuffer(object, &view, PyBUF_RECORDS_RO) != 0) throw python_error{};
  }
  ~Buffer() { PyBuffer_Release(&view); }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  Py_buffer view;
};

struct ElementKind {
  bool is_signed = false;
  bool swap = false;  // stored in the other byte order than the host's
};

// The element type of a buffer from its struct-module format: one integer code, optionally after a byte
// order mark; the element's width is the buffer's item size.
bool integer_kind(const char* format, ElementKind& kind) {
  if (format == nullptr) format = "B";
  bool little = std::endian::native == std::endian::little;
  switch (*format) {
    case '@':
    case '=':
      ++format;
      break;
    case '<':
      little = true;
      ++format;
      break;
    case '>':
    case '!':
      little = false;
      ++format;
      break;
    default:
      break;
  }
  if (format[0] == '\0' || format[1] != '\0' || std::strchr("bBhHiIlLqQnN", format[0]) == nullptr)
    return false;
  kind.is_signed = std::strchr("bhilqn", format[0]) != nullptr;
  kind.swap = little != (std::endian::native == std::endian::little);
  return true;
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

// Where converting a buffer stopped at an element out of the range (insert mode).
struct Refused {
  Py_ssize_t index = -1;
  long long value = 0;            // for signed elements
  unsigned long long uvalue = 0;  // for unsigned ones
};

template <class T>
void convert(const char* data, Py_ssize_t n, Py_ssize_t stride, bool swap, Operand::Mode mode,
             std::vector<std::int32_t>& out, bool& others, Refused& refused) {
  out.reserve(static_cast<std::size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    const T v = element_at<T>(data + i * stride, swap);
    bool in_range = true;  // every element narrower than 32 bits, and every 32-bit signed one
    if constexpr (std::is_signed_v<T> && sizeof(T) > 4) {
      in_range = v >= kLowest && v <= kHighest;
    } else if constexpr (!std::is_signed_v<T> && sizeof(T) >= 4) {
      in_range = v <= static_cast<T>(kHighest);
    }
    if (in_range) {
      out.push_back(static_cast<std::int32_t>(v));
    } else if (mode == Operand::Mode::lookup) {
      others = true;
    } else {
      refused.index = i;
      if constexpr (std::is_signed_v<T>) {
        refused.value = v;
      } else {
        refused.uvalue = v;
      }
      return;
    }
  }
}

template <class Signed, class Unsigned>
void convert_width(const char* data, Py_ssize_t n, Py_ssize_t stride, const ElementKind& kind,
                   Operand::Mode mode, std::vector<std::int32_t>& out, bool& others, Refused& refused) {
  if (kind.is_signed) {
    convert<Signed>(data, n, stride, kind.swap, mode, out, others, refused);
  } else {
    convert<Unsigned>(data, n, stride, kind.swap, mode, out, others, refused);
  }
}

void add_buffer(PyObject* object, Operand::Mode mode, intset::tnumbrelle& set, bool& others) {
  const Buffer buffer{object};
  const Py_buffer& view = buffer.view;
  ElementKind kind;
  const Py_ssize_t width = view.itemsize;
  if (!integer_kind(view.format, kind) || (width != 1 && width != 2 && width != 4 && width != 8)) {
    raise(PyExc_TypeError, "IntSet members are integers; a buffer of format '%s' holds none",
          view.format != nullptr ? view.format : "B");
  }
  if (view.ndim != 1)
    raise(PyExc_TypeError, "a buffer of %d dimensions; IntSet takes one-dimensional ones", view.ndim);
  const Py_ssize_t n = view.shape[0];
  const Py_ssize_t stride = view.strides != nullptr ? view.strides[0] : width;
  const char* data = static_cast<const char*>(view.buf);

  // 32-bit signed elements in the host's order, one after the other, are taken where they are.
  const bool in_place = width == 4 && kind.is_signed && !kind.swap && stride == 4 &&
                        reinterpret_cast<std::uintptr_t>(data) % alignof(std::int32_t) == 0;
  std::vector<std::int32_t> values;
  bool others_found = false;
  Refused refused;
  Readers{n / 32}.run([&] {
    if (in_place) {
      set =
          set_of_values(std::span{reinterpret_cast<const std::int32_t*>(data), static_cast<std::size_t>(n)});
      return;
    }
    switch (width) {
      case 1:
        convert_width<std::int8_t, std::uint8_t>(data, n, stride, kind, mode, values, others_found, refused);
        break;
      case 2:
        convert_width<std::int16_t, std::uint16_t>(data, n, stride, kind, mode, values, others_found,
                                                   refused);
        break;
      case 4:
        convert_width<std::int32_t, std::uint32_t>(data, n, stride, kind, mode, values, others_found,
                                                   refused);
        break;
      default:
        convert_width<std::int64_t, std::uint64_t>(data, n, stride, kind, mode, values, others_found,
                                                   refused);
        break;
    }
    if (refused.index < 0) set = set_of_values(values);
  });
  if (refused.index >= 0) {
    if (kind.is_signed) {
      raise(PyExc_OverflowError,
            "item %zd of the buffer, %lld, is outside the range of IntSet members, "
            "[-2147483648, 2147483647]",
            refused.index, refused.value);
    }
    raise(PyExc_OverflowError,
          "item %zd of the buffer, %llu, is outside the range of IntSet members, "
          "[-2147483648, 2147483647]",
          refused.index, refused.uvalue);
  }
  others = others || others_found;
}

// --- Any other iterable ---------------------------------------------------------------------------------

void add_iterable(PyObject* iterable, Operand::Mode mode, intset::tnumbrelle& set, bool& others) {
  PyObject* iterator = PyObject_GetIter(iterable);
  if (iterator == nullptr) throw python_error{};
  std::vector<std::int32_t> values;
  const Py_ssize_t hint = PyObject_LengthHint(iterable, 0);
  if (hint < 0) {
    Py_DECREF(iterator);
    throw python_error{};
  }
  try {
    values.reserve(static_cast<std::size_t>(hint));
    while (PyObject* item = PyIter_Next(iterator)) {
      std::int32_t v;
      int found;
      if (mode == Operand::Mode::insert) {
        found = insert_value(item, v) ? 1 : -1;
      } else {
        found = lookup_value(item, v);
      }
      Py_DECREF(item);
      if (found < 0) throw python_error{};
      if (found > 0) {
        values.push_back(v);
      } else {
        others = true;
      }
    }
  } catch (...) {
    Py_DECREF(iterator);
    throw;
  }
  Py_DECREF(iterator);
  throw_if_error();
  Readers{static_cast<std::int64_t>(values.size()) / 32}.run([&] { set = set_of_values(values); });
}

}  // namespace

bool insert_value(PyObject* object, std::int32_t& value) {
  if (PyLong_Check(object)) {
    const int found = int32_of_int(object, value);
    if (found == 0) {
      PyErr_Format(PyExc_OverflowError,
                   "%R is outside the range of IntSet members, [-2147483648, 2147483647]", object);
    }
    return found > 0;
  }
  if (!PyIndex_Check(object)) {
    PyErr_Format(PyExc_TypeError, "IntSet members are integers, not '%.200s'", Py_TYPE(object)->tp_name);
    return false;
  }
  PyObject* integer = PyNumber_Index(object);
  if (integer == nullptr) return false;
  const bool inserted = insert_value(integer, value);
  Py_DECREF(integer);
  return inserted;
}

int lookup_value(PyObject* object, std::int32_t& value) {
  if (PyLong_Check(object)) return int32_of_int(object, value);
  if (!PyIndex_Check(object)) return 0;
  PyObject* integer = PyNumber_Index(object);
  if (integer == nullptr) return -1;
  const int found = int32_of_int(integer, value);
  Py_DECREF(integer);
  return found;
}

Operand::Operand(PyObject* object, Mode mode) {
  if (is_set(object)) {
    source_ = as_set(object);
    set_ = &source_->set();
    return;
  }
  if (Py_IS_TYPE(object, &PyRange_Type) && add_range_object(object, mode, owned_, others_)) return;
  if (PyObject_CheckBuffer(object)) {
    add_buffer(object, mode, owned_, others_);
    return;
  }
  add_iterable(object, mode, owned_, others_);
}

intset::tnumbrelle Operand::take() {
  if (source_ == nullptr) return std::move(owned_);
  intset::tnumbrelle copy;
  Readers readers;
  readers.add(source_);
  readers.run([&] { copy = *set_; });
  return copy;
}

}  // namespace pyintset
