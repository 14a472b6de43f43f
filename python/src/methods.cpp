// The methods both types have that read sets: combining into a new set, comparing, counting without
// building, ranges and order, copying.
#include "methods.h"

#include <deque>

#include "method_support.h"

namespace pyintset {

namespace {

using intset::tnumbrelle;
using Mode = Operand::Mode;

// The operands of a method taking iterables, and the readers they bring.
struct Operands {
  std::deque<Operand> list;
  Readers readers;

  Operands(SetObject* self, PyObject* args, Mode mode) {
    readers.add(self);
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(args); ++i) add(PyTuple_GET_ITEM(args, i), mode);
  }
  void add(PyObject* other, Mode mode) {
    const Operand& operand = list.emplace_back(other, mode);
    if (operand.source() != nullptr) readers.add(operand.source());
  }
  const Operand& only() const { return list.front(); }
};

// --- Combining ------------------------------------------------------------------------------------------

template <class Combine>
PyObject* combined(PyObject* self, PyObject* args, Mode mode, Combine combine) {
  return guarded([&] {
    Operands operands{as_set(self), args, mode};
    tnumbrelle result;
    operands.readers.run([&] {
      result = as_set(self)->set();
      for (const Operand& operand : operands.list) combine(result, operand.set());
    });
    return new_set(base_type(self), std::move(result));
  });
}

PyObject* set_union(PyObject* self, PyObject* args) {
  return combined(self, args, Mode::insert, [](tnumbrelle& r, const tnumbrelle& b) { r |= b; });
}
PyObject* set_intersection(PyObject* self, PyObject* args) {
  return combined(self, args, Mode::lookup, [](tnumbrelle& r, const tnumbrelle& b) { r &= b; });
}
PyObject* set_difference(PyObject* self, PyObject* args) {
  return combined(self, args, Mode::lookup, [](tnumbrelle& r, const tnumbrelle& b) { r -= b; });
}
PyObject* set_symmetric_difference(PyObject* self, PyObject* other) {
  const Ref args{PyTuple_Pack(1, other)};
  if (!args) return nullptr;
  return combined(self, args.get(), Mode::insert, [](tnumbrelle& r, const tnumbrelle& b) { r ^= b; });
}

// --- Comparing and counting -------------------------------------------------------------------------------

// count(self's set, the operand's set), read without the GIL when big.
template <class Count>
std::int64_t counted(PyObject* self, const Operand& operand, Count count) {
  Readers readers;
  readers.add(as_set(self));
  if (operand.source() != nullptr) readers.add(operand.source());
  std::int64_t n = 0;
  readers.run([&] { n = count(as_set(self)->set(), operand.set()); });
  return n;
}

template <class Count>
PyObject* count_of(PyObject* self, PyObject* other, Mode mode, Count count) {
  return guarded([&] { return PyLong_FromLongLong(counted(self, Operand{other, mode}, count)); });
}

PyObject* set_isdisjoint(PyObject* self, PyObject* other) {
  return guarded([&] {
    const Operand operand{other, Mode::lookup};
    if (operand.is_few()) {
      for (const std::int32_t v : operand.few())
        if (as_set(self)->set().contains(v)) Py_RETURN_FALSE;
      Py_RETURN_TRUE;
    }
    return PyBool_FromLong(counted(self, operand, [](auto& a, auto& b) { return a.intersects(b); }) == 0);
  });
}
PyObject* set_issubset(PyObject* self, PyObject* other) {
  return guarded([&] {
    const Operand operand{other, Mode::lookup};
    return PyBool_FromLong(counted(self, operand, [](auto& a, auto& b) { return a.is_subset_of(b); }) != 0);
  });
}
PyObject* set_issuperset(PyObject* self, PyObject* other) {
  return guarded([&] {
    const Operand operand{other, Mode::lookup};
    if (operand.others()) Py_RETURN_FALSE;
    if (operand.is_few()) {
      for (const std::int32_t v : operand.few())
        if (!as_set(self)->set().contains(v)) Py_RETURN_FALSE;
      Py_RETURN_TRUE;
    }
    return PyBool_FromLong(counted(self, operand, [](auto& a, auto& b) { return a.is_superset_of(b); }) != 0);
  });
}

PyObject* set_intersection_len(PyObject* self, PyObject* other) {
  return count_of(self, other, Mode::lookup, [](auto& a, auto& b) { return a.intersect_count(b); });
}
PyObject* set_union_len(PyObject* self, PyObject* other) {
  return count_of(self, other, Mode::insert, [](auto& a, auto& b) { return a.unite_count(b); });
}
PyObject* set_difference_len(PyObject* self, PyObject* other) {
  return count_of(self, other, Mode::lookup, [](auto& a, auto& b) { return a.subtract_count(b); });
}
PyObject* set_symmetric_difference_len(PyObject* self, PyObject* other) {
  return count_of(self, other, Mode::insert, [](auto& a, auto& b) { return a.invert_count(b); });
}

// --- Ranges and order
// ---------------------------------------------------------------------------------------

PyObject* set_contains_range(PyObject* self, PyObject* args) {
  PyObject *start, *stop;
  if (!PyArg_UnpackTuple(args, "contains_range", 2, 2, &start, &stop)) return nullptr;
  return guarded([&] {
    const RangeEnds range{start, stop};
    if (range.empty) Py_RETURN_TRUE;
    if (!range.within_members()) Py_RETURN_FALSE;
    return PyBool_FromLong(as_set(self)->set().contains_range(static_cast<std::int32_t>(range.lo),
                                                              static_cast<std::int32_t>(range.end - 1)));
  });
}

PyObject* set_count_range(PyObject* self, PyObject* args) {
  PyObject *start, *stop;
  if (!PyArg_UnpackTuple(args, "count_range", 2, 2, &start, &stop)) return nullptr;
  return guarded([&] {
    const RangeEnds range{start, stop};
    std::int32_t first, last;
    if (!range.members_part(first, last)) return PyLong_FromLong(0);
    return PyLong_FromLongLong(as_set(self)->set().count_range(first, last));
  });
}

PyObject* set_irange(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* names[] = {"start", "stop", "reverse", nullptr};
  PyObject *start = Py_None, *stop = Py_None;
  int reverse = 0;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|OO$p:irange", const_cast<char**>(names), &start, &stop,
                                   &reverse))
    return nullptr;
  return guarded([&] {
    // Saturating the ends changes no answer: the members lie well inside the limits of long long.
    const long long lo = start == Py_None ? kLowest : integer_argument(start);
    const long long end = stop == Py_None ? kHighest + 1 : integer_argument(stop);
    std::int32_t first = INT32_MAX, last = INT32_MIN;  // empty
    if (lo < end && end > kLowest && lo <= kHighest) {
      first = static_cast<std::int32_t>(std::max(lo, kLowest));
      last = static_cast<std::int32_t>(std::min(end - 1, kHighest));
    }
    return checked(new_iterator(as_set(self), first, last, reverse != 0));
  });
}

PyObject* end_member(PyObject* self, bool largest) {
  return guarded([&] {
    const tnumbrelle& set = as_set(self)->set();
    const std::optional<std::int32_t> v = largest ? set.highest() : set.lowest();
    if (!v) raise(PyExc_ValueError, "%s() of an empty %s", largest ? "max" : "min", type_name(self));
    return PyLong_FromLong(*v);
  });
}
PyObject* set_min(PyObject* self, PyObject*) { return end_member(self, false); }
PyObject* set_max(PyObject* self, PyObject*) { return end_member(self, true); }

PyObject* set_rank(PyObject* self, PyObject* value) {
  return guarded([&] {
    SetObject* s = as_set(self);
    const long long v = integer_argument(value);
    if (v < kLowest) return PyLong_FromLong(0);
    if (v > kHighest) return PyLong_FromLongLong(s->set().size());
    std::int64_t rank = 0;
    Readers readers;
    readers.add(s);
    readers.run([&] { rank = s->set().rank(static_cast<std::int32_t>(v)); });
    return PyLong_FromLongLong(rank);
  });
}

// --- Copies and size --------------------------------------------------------------------------------------

// A copy of the base type, as set.copy() makes; a FrozenIntSet is its own copy.
PyObject* set_copy(PyObject* self, PyObject*) {
  if (Py_IS_TYPE(self, FrozenIntSetType)) return Py_NewRef(self);
  return guarded([&] {
    Operand source{self, Mode::insert};
    return new_set(base_type(self), source.take());
  });
}

// copy.copy() and copy.deepcopy(): a copy of the package's types, or for a subclass what its __reduce__
// rebuilds (the subclass made from the members, and its __dict__ copied over), as for a subclass of set.
PyObject* copied(PyObject* self, PyObject* memo) {
  if (Py_IS_TYPE(self, IntSetType) || Py_IS_TYPE(self, FrozenIntSetType)) return set_copy(self, nullptr);
  return guarded([&] {
    const Ref members{checked(set_copy(self, nullptr))};
    Ref copy{checked(PyObject_CallOneArg(reinterpret_cast<PyObject*>(Py_TYPE(self)), members.get()))};
    if (Py_TYPE(self)->tp_dictoffset == 0) return copy.release();
    Ref state{checked(PyObject_GenericGetDict(self, nullptr))};
    if (memo != nullptr) {
      const Ref id{checked(PyLong_FromVoidPtr(self))};
      if (PyDict_Check(memo) && PyDict_SetItem(memo, id.get(), copy.get()) < 0) throw python_error{};
      const Ref copy_module{checked(PyImport_ImportModule("copy"))};
      state.reset(checked(PyObject_CallMethod(copy_module.get(), "deepcopy", "OO", state.get(), memo)));
    }
    const Ref into{checked(PyObject_GenericGetDict(copy.get(), nullptr))};
    if (PyDict_Update(into.get(), state.get()) < 0) throw python_error{};
    return copy.release();
  });
}
PyObject* set_copy_copy(PyObject* self, PyObject*) { return copied(self, nullptr); }
PyObject* set_deepcopy(PyObject* self, PyObject* memo) { return copied(self, memo); }

PyObject* set_sizeof(PyObject* self, PyObject*) {
  const auto blocks = static_cast<std::size_t>(as_set(self)->set().capacity());
  return PyLong_FromSize_t(static_cast<std::size_t>(Py_TYPE(self)->tp_basicsize) +
                           blocks * sizeof(intset::tblock));
}

}  // namespace

PyMethodDef reading_methods[] = {
    {"union", set_union, METH_VARARGS,
     NUMBRELLE_DOC("union($self, /, *others)",
                   "A new set with the members of the set and of every iterable.")},
    {"intersection", set_intersection, METH_VARARGS,
     NUMBRELLE_DOC("intersection($self, /, *others)",
                   "A new set with the members the set and every iterable share.")},
    {"difference", set_difference, METH_VARARGS,
     NUMBRELLE_DOC("difference($self, /, *others)",
                   "A new set with the members that are in none of the iterables.")},
    {"symmetric_difference", set_symmetric_difference, METH_O,
     NUMBRELLE_DOC("symmetric_difference($self, other, /)",
                   "A new set with the members in exactly one of the set and the iterable.")},
    {"isdisjoint", set_isdisjoint, METH_O,
     NUMBRELLE_DOC("isdisjoint($self, other, /)", "Whether the set and the iterable share no member.")},
    {"issubset", set_issubset, METH_O,
     NUMBRELLE_DOC("issubset($self, other, /)", "Whether every member is in the iterable.")},
    {"issuperset", set_issuperset, METH_O,
     NUMBRELLE_DOC("issuperset($self, other, /)", "Whether every element of the iterable is a member.")},
    {"intersection_len", set_intersection_len, METH_O,
     NUMBRELLE_DOC("intersection_len($self, other, /)",
                   "len(self.intersection(other)), without building it.")},
    {"union_len", set_union_len, METH_O,
     NUMBRELLE_DOC("union_len($self, other, /)", "len(self.union(other)), without building it.")},
    {"difference_len", set_difference_len, METH_O,
     NUMBRELLE_DOC("difference_len($self, other, /)", "len(self.difference(other)), without building it.")},
    {"symmetric_difference_len", set_symmetric_difference_len, METH_O,
     NUMBRELLE_DOC("symmetric_difference_len($self, other, /)",
                   "len(self.symmetric_difference(other)), without building it.")},
    {"contains_range", set_contains_range, METH_VARARGS,
     NUMBRELLE_DOC("contains_range($self, start, stop, /)",
                   "Whether every value of range(start, stop) is a member (True when it is empty).")},
    {"count_range", set_count_range, METH_VARARGS,
     NUMBRELLE_DOC("count_range($self, start, stop, /)", "The number of members in range(start, stop).")},
    {"irange", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(set_irange)),
     METH_VARARGS | METH_KEYWORDS,
     NUMBRELLE_DOC("irange($self, /, start=None, stop=None, *, reverse=False)",
                   "An iterator over the members in [start, stop), ascending or with reverse descending;\n"
                   "None is no bound. It finds its first member in O(log blocks).")},
    {"min", set_min, METH_NOARGS,
     NUMBRELLE_DOC("min($self, /)", "The smallest member (ValueError when empty).")},
    {"max", set_max, METH_NOARGS,
     NUMBRELLE_DOC("max($self, /)", "The largest member (ValueError when empty).")},
    {"rank", set_rank, METH_O,
     NUMBRELLE_DOC("rank($self, value, /)", "The number of members less than or equal to value.")},
    {"copy", set_copy, METH_NOARGS,
     NUMBRELLE_DOC("copy($self, /)", "A shallow copy of the set (a FrozenIntSet is its own copy).")},
    {"__copy__", set_copy_copy, METH_NOARGS, NUMBRELLE_DOC("__copy__($self, /)", "copy.copy(self).")},
    {"__deepcopy__", set_deepcopy, METH_O,
     NUMBRELLE_DOC("__deepcopy__($self, memo, /)", "copy.deepcopy(self).")},
    {"__sizeof__", set_sizeof, METH_NOARGS,
     NUMBRELLE_DOC("__sizeof__($self, /)",
                   "The size of the set in memory, in bytes, its block buffer included.")},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace pyintset
