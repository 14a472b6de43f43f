// The methods of IntSet and FrozenIntSet that are not type slots, as pybind11 functions attached to the C API
// types: combining, comparing, counting, ranges and order, and the changes only IntSet has. `self` arrives
// through the casters of method_support.h, which accept only the package's sets; conversions.cpp attaches the
// rest.
#include "methods.h"

#include <pybind11/stl.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <limits>

#include "method_support.h"
#include "values.h"

namespace pyintset {

namespace {

using intset::tnumbrelle;
using Mode = Operand::Mode;

// The operands of a method taking iterables, and the readers they bring.
struct Operands {
  std::deque<Operand> list;
  Readers readers;

  Operands(SetObject* self, const py::args& others, Mode mode) {
    readers.add(self);
    for (const py::handle other : others) add(other, mode);
  }
  Operands(SetObject* self, py::handle other, Mode mode) {
    readers.add(self);
    add(other, mode);
  }
  void add(py::handle other, Mode mode) {
    const Operand& operand = list.emplace_back(other.ptr(), mode);
    if (operand.source() != nullptr) readers.add(operand.source());
  }
  const Operand& only() const { return list.front(); }
};

template <class Change>
void change(SetObject* s, Change&& change) {
  wait_for_readers(s);
  try {
    change(s->set());
  } catch (...) {
    changed(s);
    throw;
  }
  changed(s);
}

// --- Combining ------------------------------------------------------------------------------------------

template <class Combine>
py::object combined(SetObject* self, Operands&& operands, Combine combine) {
  tnumbrelle result;
  operands.readers.run([&] {
    result = self->set();
    for (const Operand& operand : operands.list) combine(result, operand.set());
  });
  return steal(new_set(Py_TYPE(self), std::move(result)));
}

template <class Count>
std::int64_t counted(SetObject* self, py::handle other, Mode mode, Count count) {
  Operands operands{self, other, mode};
  std::int64_t n = 0;
  operands.readers.run([&] { n = count(self->set(), operands.only().set()); });
  return n;
}

// The methods both types have.
void add_reading_methods(PyTypeObject* type) {
  method(
      type, "union",
      [](AnySet self, py::args others) {
        return combined(self.s, Operands{self.s, others, Mode::insert},
                        [](tnumbrelle& r, const tnumbrelle& b) { r |= b; });
      },
      "A new set with the members of the set and of every iterable.");
  method(
      type, "intersection",
      [](AnySet self, py::args others) {
        return combined(self.s, Operands{self.s, others, Mode::lookup},
                        [](tnumbrelle& r, const tnumbrelle& b) { r &= b; });
      },
      "A new set with the members that the set and every iterable share.");
  method(
      type, "difference",
      [](AnySet self, py::args others) {
        return combined(self.s, Operands{self.s, others, Mode::lookup},
                        [](tnumbrelle& r, const tnumbrelle& b) { r -= b; });
      },
      "A new set with the members of the set that are in none of the iterables.");
  method(
      type, "symmetric_difference",
      [](AnySet self, py::handle other) {
        return combined(self.s, Operands{self.s, other, Mode::insert},
                        [](tnumbrelle& r, const tnumbrelle& b) { r ^= b; });
      },
      py::arg("other"), "A new set with the members in exactly one of the set and the iterable.");
  method(
      type, "isdisjoint",
      [](AnySet self, py::handle other) {
        return counted(self.s, other, Mode::lookup,
                       [](const tnumbrelle& a, const tnumbrelle& b) { return a.intersects(b); }) == 0;
      },
      py::arg("other"), "Whether the set and the iterable share no member.");
  method(
      type, "issubset",
      [](AnySet self, py::handle other) {
        return counted(self.s, other, Mode::lookup,
                       [](const tnumbrelle& a, const tnumbrelle& b) { return a.is_subset_of(b); }) != 0;
      },
      py::arg("other"), "Whether every member is in the iterable.");
  method(
      type, "issuperset",
      [](AnySet self, py::handle other) {
        Operands operands{self.s, other, Mode::lookup};
        if (operands.only().others()) return false;
        bool result = false;
        operands.readers.run([&] { result = self.s->set().is_superset_of(operands.only().set()); });
        return result;
      },
      py::arg("other"), "Whether every element of the iterable is a member.");

  method(
      type, "intersection_len",
      [](AnySet self, py::handle other) {
        return counted(self.s, other, Mode::lookup,
                       [](const tnumbrelle& a, const tnumbrelle& b) { return a.intersect_count(b); });
      },
      py::arg("other"), "len(self.intersection(other)), without building it.");
  method(
      type, "union_len",
      [](AnySet self, py::handle other) {
        return counted(self.s, other, Mode::insert,
                       [](const tnumbrelle& a, const tnumbrelle& b) { return a.unite_count(b); });
      },
      py::arg("other"), "len(self.union(other)), without building it.");
  method(
      type, "difference_len",
      [](AnySet self, py::handle other) {
        return counted(self.s, other, Mode::lookup,
                       [](const tnumbrelle& a, const tnumbrelle& b) { return a.subtract_count(b); });
      },
      py::arg("other"), "len(self.difference(other)), without building it.");
  method(
      type, "symmetric_difference_len",
      [](AnySet self, py::handle other) {
        return counted(self.s, other, Mode::insert,
                       [](const tnumbrelle& a, const tnumbrelle& b) { return a.invert_count(b); });
      },
      py::arg("other"), "len(self.symmetric_difference(other)), without building it.");

  method(
      type, "contains_range",
      [](AnySet self, py::handle start, py::handle stop) {
        const long long lo = integer_argument(start), end = integer_argument(stop);
        if (lo >= end) return true;
        if (lo < kLowest || end - 1 > kHighest) return false;
        return self.s->set().contains_range(static_cast<std::int32_t>(lo),
                                            static_cast<std::int32_t>(end - 1));
      },
      py::arg("start"), py::arg("stop"), "Whether every value of range(start, stop) is a member.");
  method(
      type, "count_range",
      [](AnySet self, py::handle start, py::handle stop) -> std::int64_t {
        const long long lo = std::max(integer_argument(start), kLowest),
                        end = std::min(integer_argument(stop), kHighest + 1);
        if (lo >= end) return 0;
        return self.s->set().count_range(static_cast<std::int32_t>(lo), static_cast<std::int32_t>(end - 1));
      },
      py::arg("start"), py::arg("stop"), "The number of members in range(start, stop).");
  method(
      type, "min",
      [](AnySet self) {
        const std::optional<std::int32_t> v = self.s->set().lowest();
        if (!v) raise(PyExc_ValueError, "min() of an empty %s", type_name(self.s));
        return *v;
      },
      "The smallest member (ValueError when empty).");
  method(
      type, "max",
      [](AnySet self) {
        const std::optional<std::int32_t> v = self.s->set().highest();
        if (!v) raise(PyExc_ValueError, "max() of an empty %s", type_name(self.s));
        return *v;
      },
      "The largest member (ValueError when empty).");
  method(
      type, "rank",
      [](AnySet self, py::handle value) -> std::int64_t {
        const long long v = integer_argument(value);
        if (v < kLowest) return 0;
        if (v > kHighest) return length_of(self.s);
        std::int64_t rank = 0;
        Readers readers;
        readers.add(self.s);
        readers.run([&] { rank = self.s->set().rank(static_cast<std::int32_t>(v)); });
        return rank;
      },
      py::arg("value"), "The number of members less than or equal to value.");

  add_conversion_methods(type);
  method(type, "__sizeof__", [](AnySet self) {
    return sizeof(SetObject) + static_cast<std::size_t>(self.s->set().capacity()) * sizeof(intset::tblock);
  });
}

py::object copy_of(AnySet self) {
  if (is_frozen(reinterpret_cast<PyObject*>(self.s)))
    return py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(self.s));
  Operand source{reinterpret_cast<PyObject*>(self.s), Mode::insert};
  return steal(new_set(Py_TYPE(self.s), source.take()));
}

// The methods only IntSet has; each changes the set holding the GIL.
void add_changing_methods(PyTypeObject* type) {
  method(
      type, "remove",
      [](MutableSet self, py::handle value) {
        std::int32_t v;
        const int found = lookup_value(value.ptr(), v);
        if (found < 0) throw python_error{};
        wait_for_readers(self.s);
        if (found == 0 || !self.s->set().contains(v)) {
          PyErr_SetObject(PyExc_KeyError, value.ptr());
          throw python_error{};
        }
        change(self.s, [&](tnumbrelle& set) { set.exclude(v); });
      },
      py::arg("value"), "Removes a member (KeyError when it is not one).");
  method(
      type, "pop",
      [](MutableSet self) {
        wait_for_readers(self.s);
        const std::optional<std::int32_t> lowest = self.s->set().lowest();
        if (!lowest) raise(PyExc_KeyError, "pop from an empty IntSet");
        change(self.s, [&](tnumbrelle& set) { set.exclude(*lowest); });
        return *lowest;
      },
      "Removes and returns the smallest member (KeyError when empty).");
  method(
      type, "clear", [](MutableSet self) { change(self.s, [](tnumbrelle& set) { set.clear(); }); },
      "Removes every member.");
  method(
      type, "update",
      [](MutableSet self, py::args others) {
        for (const py::handle other : others) {
          const Operand operand{other.ptr(), Mode::insert};
          change(self.s, [&](tnumbrelle& set) { set |= operand.set(); });
        }
      },
      "Adds the elements of every iterable.");
  method(
      type, "intersection_update",
      [](MutableSet self, py::args others) {
        for (const py::handle other : others) {
          const Operand operand{other.ptr(), Mode::lookup};
          change(self.s, [&](tnumbrelle& set) { set &= operand.set(); });
        }
      },
      "Keeps only the members found in every iterable.");
  method(
      type, "difference_update",
      [](MutableSet self, py::args others) {
        for (const py::handle other : others) {
          const Operand operand{other.ptr(), Mode::lookup};
          change(self.s, [&](tnumbrelle& set) { set -= operand.set(); });
        }
      },
      "Removes the elements of every iterable.");
  method(
      type, "symmetric_difference_update",
      [](MutableSet self, py::handle other) {
        const Operand operand{other.ptr(), Mode::insert};
        change(self.s, [&](tnumbrelle& set) { set ^= operand.set(); });
      },
      py::arg("other"), "Keeps the members in exactly one of the set and the iterable.");
  method(
      type, "add_range",
      [](MutableSet self, py::handle start, py::handle stop) {
        const long long lo = integer_argument(start), end = integer_argument(stop);
        if (lo >= end) return;
        if (lo < kLowest || end - 1 > kHighest) {
          raise(PyExc_OverflowError, "range(%lld, %lld) reaches outside [-2147483648, 2147483647]", lo, end);
        }
        change(self.s, [&](tnumbrelle& set) {
          set.include_range(static_cast<std::int32_t>(lo), static_cast<std::int32_t>(end - 1));
        });
      },
      py::arg("start"), py::arg("stop"), "Adds every value of range(start, stop); stop may be 2**31.");
  method(
      type, "discard_range",
      [](MutableSet self, py::handle start, py::handle stop) {
        const long long lo = std::max(integer_argument(start), kLowest),
                        end = std::min(integer_argument(stop), kHighest + 1);
        if (lo >= end) return;
        change(self.s, [&](tnumbrelle& set) {
          set.exclude_range(static_cast<std::int32_t>(lo), static_cast<std::int32_t>(end - 1));
        });
      },
      py::arg("start"), py::arg("stop"), "Removes every member in range(start, stop).");
}

}  // namespace

void add_methods(py::module_& module) {
  for (PyTypeObject* type : {IntSetType, FrozenIntSetType}) {
    add_reading_methods(type);
    method(type, "copy", copy_of, "A copy (a FrozenIntSet is its own copy).");
    method(type, "__copy__", copy_of);
    method(
        type, "__deepcopy__", [](AnySet self, py::handle) { return copy_of(self); }, py::arg("memo"));
  }
  add_changing_methods(IntSetType);

  module.def(
      "_time_to_array",
      [](AnySet s, int repeats) {
        // The C++ to_array() of a copy of the set, for the benchmark: the best time of `repeats` calls, in
        // seconds.
        tnumbrelle copy = s.s->set();
        double best = std::numeric_limits<double>::infinity();
        py::gil_scoped_release unlocked;
        for (int i = 0; i < repeats; ++i) {
          const auto start = std::chrono::steady_clock::now();
          const intset::tarrayofinteger members = copy.to_array();
          const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
          best = std::min(best, took.count());
        }
        return best;
      },
      py::arg("set"), py::arg("repeats"));
  module.def(
      "_set_gil_release_blocks",
      [](std::int64_t blocks) {
        // Tests set 0, so that every operation runs without the GIL; returns the previous size.
        const std::int64_t previous = gil_release_blocks;
        gil_release_blocks = blocks;
        return previous;
      },
      py::arg("blocks"));
}

}  // namespace pyintset
