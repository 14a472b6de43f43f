#include "batch_input.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <type_traits>
#include <utility>

#include "method_support.h"
#include "values.h"

namespace pyintset {

namespace {

// --- Values to look up ----------------------------------------------------------------------------------

template <class T>
void read_elements(const IntegerBuffer& buffer, Lookup lookup, LookupValues& out) {
  out.values.resize(static_cast<std::size_t>(buffer.size));
  std::int32_t* values = out.values.data();
  if constexpr (std::is_same_v<T, std::int32_t>) {
    if (!buffer.kind.swap && buffer.stride == 4) {
      std::memcpy(values, buffer.data, out.values.size() * sizeof(T));
      return;
    }
  }
  for_each_element<T>(buffer, [&](Py_ssize_t i, T v) {
    if (std::in_range<std::int32_t>(v)) [[likely]] {
      values[i] = static_cast<std::int32_t>(v);
    } else {
      const bool below = std::cmp_less(v, kLowest);
      values[i] = below ? INT32_MIN : INT32_MAX;
      if (below || lookup == Lookup::membership) out.fixed.push_back(static_cast<std::size_t>(i));
    }
    return true;
  });
}

// A buffer's elements into `out`; false for a buffer that is to be read as an iterable.
bool read_buffer(PyObject* object, Lookup lookup, LookupValues& out) {
  const Buffer buffer{object};
  if (!buffer.held) return false;
  IntegerBuffer ints;
  if (!integer_buffer(buffer.view, ints)) {
    if (lookup != Lookup::membership || buffer.view.ndim != 1 || !number_kind(buffer.view.format))
      return false;
    out.all_fixed = true;
    out.count = static_cast<std::size_t>(buffer.view.shape[0]);
    return true;
  }
  Readers{ints.size / 32}.run(
      [&] { with_element_type(ints, [&](auto type) { read_elements<decltype(type)>(ints, lookup, out); }); });
  out.count = out.values.size();
  return true;
}

void read_iterable(PyObject* iterable, Lookup lookup, LookupValues& out) {
  const Ref iterator{PyObject_GetIter(iterable)};
  if (!iterator) throw python_error{};
  reserve_for(iterable, out.values);
  std::int32_t previous = INT32_MIN;
  while (PyObject* next = PyIter_Next(iterator.get())) {
    const Ref item{next};
    std::int32_t v = previous;
    if (lookup == Lookup::membership) {
      const int found = lookup_value(item.get(), v);
      if (found < 0) throw python_error{};
      if (found == 0) {
        v = previous;
        out.fixed.push_back(out.values.size());
      }
    } else {
      const long long given = integer_argument(item.get());
      v = static_cast<std::int32_t>(std::clamp(given, kLowest, kHighest));
      if (given < kLowest) out.fixed.push_back(out.values.size());
    }
    out.values.push_back(v);
    previous = v;
  }
  throw_if_error();
  out.count = out.values.size();
}

}  // namespace

LookupValues read_values(PyObject* object, Lookup lookup) {
  LookupValues out;
  if (!PyObject_CheckBuffer(object) || !read_buffer(object, lookup, out)) read_iterable(object, lookup, out);
  return out;
}

// --- Ranks ----------------------------------------------------------------------------------------------

Ranks::Ranks(PyObject* object) {
  if (PyObject_CheckBuffer(object)) {
    buffer_.emplace(object);
    if (buffer_->held && integer_buffer(buffer_->view, elements_)) return;
    buffer_.reset();
  }
  const Ref iterator{PyObject_GetIter(object)};
  if (!iterator) throw python_error{};
  reserve_for(object, own_);
  while (PyObject* next = PyIter_Next(iterator.get())) {
    const Ref integer{PyNumber_Index(next)};
    Py_DECREF(next);
    if (!integer) throw python_error{};
    int overflow = 0;
    long long rank = PyLong_AsLongLongAndOverflow(integer.get(), &overflow);
    if (rank == -1) throw_if_error();
    if (overflow != 0) {
      rank = overflow > 0 ? LLONG_MAX : LLONG_MIN;
      if (huge_at_ < 0) {
        const Ref text{checked(PyObject_Str(integer.get()))};
        const char* utf8 = PyUnicode_AsUTF8(text.get());
        if (utf8 == nullptr) throw python_error{};
        huge_at_ = static_cast<Py_ssize_t>(own_.size());
        huge_text_ = utf8;
      }
    }
    own_.push_back(rank);
  }
  throw_if_error();
  elements_.data = reinterpret_cast<const char*>(own_.data());
  elements_.size = static_cast<Py_ssize_t>(own_.size());
  elements_.stride = elements_.width = sizeof(std::int64_t);
  elements_.kind = {true, false};
}

}  // namespace pyintset
