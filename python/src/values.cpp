#include "values.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <limits>
#include <new>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "buffers.h"

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
  raise(PyExc_OverflowError, "%R is outside the range of members, [-2147483648, 2147483647]", object);
}

PyObject* attribute(PyObject* object, const char* name) {
  PyObject* value = PyObject_GetAttrString(object, name);
  if (value == nullptr) throw python_error{};
  return value;
}

// --- Ranges ---------------------------------------------------------------------------------------------

// A range of step 1: a short one as its values, a longer one straight into `set`; false (nothing done) for
// other steps.
bool add_range_object(PyObject* range, Operand::Mode mode, intset::tnumbrelle& set,
                      std::vector<std::int32_t>& values, bool& others) {
  const Ref step{attribute(range, "step")};
  if (saturated(step.get()) != 1) return false;
  const Ref start_object{attribute(range, "start")}, stop_object{attribute(range, "stop")};
  const RangeEnds ends{start_object.get(), stop_object.get()};
  if (ends.empty) return true;
  if (mode == Operand::Mode::insert) {
    if (ends.lo < kLowest || ends.lo > kHighest) raise_out_of_range(ends.start.get());
    if (!ends.within_members())
      raise(PyExc_OverflowError, "%R reaches past 2147483647, the largest member", range);
  } else {
    others = !ends.within_members();
  }
  std::int32_t first, last;
  if (!ends.members_part(first, last)) return true;
  if (static_cast<std::int64_t>(last) - first < static_cast<std::int64_t>(kFewValues)) {
    for (std::int64_t v = first; v <= last; ++v) values.push_back(static_cast<std::int32_t>(v));
  } else {
    set.include_range(first, last);
  }
  return true;
}

// --- Buffers --------------------------------------------------------------------------------------------

// Where converting a buffer stopped at an element out of the range (insert mode).
struct Refused {
  Py_ssize_t index = -1;
  long long value = 0;            // for signed elements
  unsigned long long uvalue = 0;  // for unsigned ones
};

// Copies the elements into `out`, reading each once: the buffer may be another thread's to change while
// this runs without the GIL, and a value that changes is then taken either way.
template <class T>
void convert(const char* data, Py_ssize_t n, Py_ssize_t stride, bool swap, Operand::Mode mode,
             std::vector<std::int32_t>& out, bool& others, Refused& refused) {
  out.reserve(static_cast<std::size_t>(n));
  if constexpr (std::is_same_v<T, std::int32_t>) {
    if (!swap && stride == sizeof(T)) {
      out.resize(static_cast<std::size_t>(n));
      std::memcpy(out.data(), data, out.size() * sizeof(T));
      return;
    }
  }
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

enum class Read { done, as_iterable };

// The buffer's elements into `values`, when the object has a buffer of integers; otherwise tells to read
// it as an iterable, or notes in lookup mode that a float array's elements are no members.
Read add_buffer(PyObject* object, Operand::Mode mode, std::vector<std::int32_t>& values, bool& others) {
  const Buffer buffer{object};
  if (!buffer.held) return Read::as_iterable;
  const Py_buffer& view = buffer.view;
  ElementKind kind;
  const Py_ssize_t width = view.itemsize;
  if (view.ndim != 1) return Read::as_iterable;
  const Py_ssize_t n = view.shape[0];
  if (!integer_kind(view.format, kind) || (width != 1 && width != 2 && width != 4 && width != 8)) {
    if (mode == Operand::Mode::lookup && number_kind(view.format)) {
      others = others || n > 0;
      return Read::done;
    }
    return Read::as_iterable;
  }
  const Py_ssize_t stride = view.strides != nullptr ? view.strides[0] : width;
  const char* data = static_cast<const char*>(view.buf);
  bool others_found = false;
  Refused refused;
  Readers{n / 32}.run([&] {
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
  });
  if (refused.index >= 0) {
    if (kind.is_signed) {
      raise(PyExc_OverflowError,
            "item %zd of the buffer, %lld, is outside the range of members, [-2147483648, 2147483647]",
            refused.index, refused.value);
    }
    raise(PyExc_OverflowError,
          "item %zd of the buffer, %llu, is outside the range of members, [-2147483648, 2147483647]",
          refused.index, refused.uvalue);
  }
  others = others || others_found;
  return Read::done;
}

// --- Any other iterable ---------------------------------------------------------------------------------

void add_iterable(PyObject* iterable, Operand::Mode mode, std::vector<std::int32_t>& values, bool& others) {
  const Ref iterator{PyObject_GetIter(iterable)};
  if (!iterator) throw python_error{};
  reserve_for(iterable, values);
  while (PyObject* item = PyIter_Next(iterator.get())) {
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
  throw_if_error();
}

}  // namespace

std::size_t room_for(PyObject* iterable) noexcept {
  // What a hint may reserve at most: a hint is only a hint.
  constexpr Py_ssize_t kMostReserved = Py_ssize_t{1} << 20;
  const Py_ssize_t hint = PyObject_LengthHint(iterable, 0);
  if (hint >= 0) return static_cast<std::size_t>(std::min(hint, kMostReserved));
  PyErr_Clear();  // as set() does, which asks for no hint
  return 0;
}

bool insert_value(PyObject* object, std::int32_t& value) {
  if (PyLong_Check(object)) {
    const int found = int32_of_int(object, value);
    if (found == 0) {
      PyErr_Format(PyExc_OverflowError, "%R is outside the range of members, [-2147483648, 2147483647]",
                   object);
    }
    return found > 0;
  }
  if (!PyIndex_Check(object)) {
    PyErr_Format(PyExc_TypeError, "'%.200s' object cannot be interpreted as an integer",
                 Py_TYPE(object)->tp_name);
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
  if (integer == nullptr) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return -1;
    PyErr_Clear();  // such as a numpy array of more than one dimension: not an integer
    return 0;
  }
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
  bool read = false;
  if (Py_IS_TYPE(object, &PyRange_Type)) read = add_range_object(object, mode, owned_, values_, others_);
  if (!read && PyObject_CheckBuffer(object)) read = add_buffer(object, mode, values_, others_) == Read::done;
  if (!read) add_iterable(object, mode, values_, others_);
  if (values_.size() <= kFewValues && owned_.is_empty()) {
    is_few_ = true;
    built_ = values_.empty();
    return;
  }
  build_from_values();
}

void Operand::build_from_values() {
  if (values_.empty()) return;  // a long range, already in the set
  Readers{static_cast<std::int64_t>(values_.size()) / 32}.run([&] {
    intset::tnumbrelle values_set = set_of_values(values_);
    if (owned_.is_empty()) {
      owned_ = std::move(values_set);
    } else {
      owned_ |= values_set;
    }
  });
  values_ = {};
}

const intset::tnumbrelle& Operand::set() const {
  if (!built_) {
    owned_ = set_of_values(values_);
    built_ = true;
  }
  return *set_;
}

intset::tnumbrelle Operand::take() {
  if (source_ == nullptr) {
    set();
    return std::move(owned_);
  }
  intset::tnumbrelle copy;
  Readers readers;
  readers.add(source_);
  readers.run([&] { copy = *set_; });
  return copy;
}

RangeEnds::RangeEnds(PyObject* start_object, PyObject* stop_object)
    : start(PyNumber_Index(start_object)), stop(start ? PyNumber_Index(stop_object) : nullptr) {
  if (!stop) throw python_error{};
  const int is_empty = PyObject_RichCompareBool(start.get(), stop.get(), Py_GE);
  if (is_empty < 0) throw python_error{};
  empty = is_empty != 0;
  lo = saturated(start.get());
  end = saturated(stop.get());
}

bool RangeEnds::within_members() const noexcept {
  return !empty && lo >= kLowest && lo <= kHighest && end > kLowest && end <= kHighest + 1;
}

bool RangeEnds::members_part(std::int32_t& first, std::int32_t& last) const noexcept {
  if (empty || end <= kLowest || lo > kHighest) return false;
  first = static_cast<std::int32_t>(std::max(lo, kLowest));
  last = static_cast<std::int32_t>(std::min(end - 1, kHighest));
  return first <= last;
}

}  // namespace pyintset
