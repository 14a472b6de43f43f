// The methods only IntSet has. Each changes the set holding the GIL, after waiting for the operations that
// read it without the GIL (set_object.h). A change by a few values makes them one at a time, in O(log blocks)
// each, so that s.update((v,)) costs what s.add(v) does rather than a walk over the whole set.
#include <algorithm>
#include <array>

#include "method_support.h"
#include "methods.h"

namespace pyintset {

namespace {

using intset::tnumbrelle;
using Mode = Operand::Mode;

// Runs `change` on the set, then records the change, also when it failed part way.
template <class Change>
void change_set(SetObject* s, Change&& change) {
  wait_for_readers(s);
  try {
    change(s->set());
  } catch (...) {
    changed(s);
    throw;
  }
  changed(s);
}

// The few values, each once, ascending.
struct Distinct {
  std::array<std::int32_t, kFewValues> values;
  std::size_t size;
  explicit Distinct(std::span<const std::int32_t> few) : size(few.size()) {
    std::copy(few.begin(), few.end(), values.begin());
    std::sort(values.begin(), values.begin() + size);
    size = static_cast<std::size_t>(std::unique(values.begin(), values.begin() + size) - values.begin());
  }
  std::span<const std::int32_t> span() const { return {values.data(), size}; }
};

// One value at a time.
void change_by_values(tnumbrelle& set, const Distinct& values, Change change) {
  switch (change) {
    case Change::unite:
      for (const std::int32_t v : values.span()) set.include(v);
      break;
    case Change::subtract:
      for (const std::int32_t v : values.span()) set.exclude(v);
      break;
    case Change::invert:
      for (const std::int32_t v : values.span()) set.invert(v);
      break;
    case Change::intersect: {
      tnumbrelle kept;
      for (const std::int32_t v : values.span())
        if (set.contains(v)) kept.include(v);
      set = std::move(kept);
      break;
    }
  }
}

}  // namespace

void change_by(SetObject* s, const Operand& operand, Change change) {
  if (operand.is_few()) {
    const Distinct values{operand.few()};
    change_set(s, [&](tnumbrelle& set) { change_by_values(set, values, change); });
    return;
  }
  change_set(s, [&](tnumbrelle& set) {
    const tnumbrelle& b = operand.set();
    switch (change) {
      case Change::unite:
        set |= b;
        break;
      case Change::intersect:
        set &= b;
        break;
      case Change::subtract:
        set -= b;
        break;
      case Change::invert:
        set ^= b;
        break;
    }
  });
}

namespace {

// --- Single members and the whole set -------------------------------------------------------------------

PyObject* set_remove(PyObject* self, PyObject* value) {
  std::int32_t v;
  const int found = lookup_value(value, v);
  if (found < 0) return nullptr;
  return guarded([&] {
    SetObject* s = as_set(self);
    wait_for_readers(s);
    if (found == 0 || !s->set().contains(v)) {
      PyErr_SetObject(PyExc_KeyError, value);
      throw python_error{};
    }
    change_set(s, [&](tnumbrelle& set) { set.exclude(v); });
    Py_RETURN_NONE;
  });
}

PyObject* set_pop(PyObject* self, PyObject*) {
  return guarded([&] {
    SetObject* s = as_set(self);
    wait_for_readers(s);
    const std::optional<std::int32_t> lowest = s->set().lowest();
    if (!lowest) raise(PyExc_KeyError, "pop from an empty IntSet");
    change_set(s, [&](tnumbrelle& set) { set.exclude(*lowest); });
    return PyLong_FromLong(*lowest);
  });
}

PyObject* set_clear(PyObject* self, PyObject*) {
  return guarded([&] {
    change_set(as_set(self), [](tnumbrelle& set) { set.clear(); });
    Py_RETURN_NONE;
  });
}

// --- By iterables ---------------------------------------------------------------------------------------

PyObject* changed_by_each(PyObject* self, PyObject* args, Mode mode, Change change) {
  return guarded([&] {
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(args); ++i)
      change_by(as_set(self), Operand{PyTuple_GET_ITEM(args, i), mode}, change);
    Py_RETURN_NONE;
  });
}

PyObject* set_update(PyObject* self, PyObject* args) {
  return changed_by_each(self, args, Mode::insert, Change::unite);
}
PyObject* set_intersection_update(PyObject* self, PyObject* args) {
  return changed_by_each(self, args, Mode::lookup, Change::intersect);
}
PyObject* set_difference_update(PyObject* self, PyObject* args) {
  return changed_by_each(self, args, Mode::lookup, Change::subtract);
}
PyObject* set_symmetric_difference_update(PyObject* self, PyObject* other) {
  return guarded([&] {
    change_by(as_set(self), Operand{other, Mode::insert}, Change::invert);
    Py_RETURN_NONE;
  });
}

// --- Ranges ---------------------------------------------------------------------------------------------

PyObject* set_add_range(PyObject* self, PyObject* args) {
  PyObject *start, *stop;
  if (!PyArg_UnpackTuple(args, "add_range", 2, 2, &start, &stop)) return nullptr;
  return guarded([&] {
    const RangeEnds range{start, stop};
    if (range.empty) Py_RETURN_NONE;
    if (!range.within_members()) {
      raise(PyExc_OverflowError,
            "range(%S, %S) reaches outside the range of members, [-2147483648, 2147483647]",
            range.start.get(), range.stop.get());
    }
    change_set(as_set(self), [&](tnumbrelle& set) {
      set.include_range(static_cast<std::int32_t>(range.lo), static_cast<std::int32_t>(range.end - 1));
    });
    Py_RETURN_NONE;
  });
}

PyObject* set_discard_range(PyObject* self, PyObject* args) {
  PyObject *start, *stop;
  if (!PyArg_UnpackTuple(args, "discard_range", 2, 2, &start, &stop)) return nullptr;
  return guarded([&] {
    const RangeEnds range{start, stop};
    std::int32_t first, last;
    if (range.members_part(first, last)) {
      change_set(as_set(self), [&](tnumbrelle& set) { set.exclude_range(first, last); });
    }
    Py_RETURN_NONE;
  });
}

}  // namespace

PyMethodDef changing_methods[] = {
    {"remove", set_remove, METH_O,
     NUMBRELLE_DOC("remove($self, value, /)", "Remove a member; KeyError when value is not one.")},
    {"pop", set_pop, METH_NOARGS,
     NUMBRELLE_DOC("pop($self, /)", "Remove and return the smallest member; KeyError when empty.")},
    {"clear", set_clear, METH_NOARGS, NUMBRELLE_DOC("clear($self, /)", "Remove every member.")},
    {"update", set_update, METH_VARARGS,
     NUMBRELLE_DOC("update($self, /, *others)", "Add the elements of every iterable.")},
    {"intersection_update", set_intersection_update, METH_VARARGS,
     NUMBRELLE_DOC("intersection_update($self, /, *others)",
                   "Keep only the members found in every iterable.")},
    {"difference_update", set_difference_update, METH_VARARGS,
     NUMBRELLE_DOC("difference_update($self, /, *others)", "Remove the elements of every iterable.")},
    {"symmetric_difference_update", set_symmetric_difference_update, METH_O,
     NUMBRELLE_DOC("symmetric_difference_update($self, other, /)",
                   "Keep the members in exactly one of the set and the iterable.")},
    {"add_range", set_add_range, METH_VARARGS,
     NUMBRELLE_DOC("add_range($self, start, stop, /)",
                   "Add every value of range(start, stop); stop may be 2**31 (OverflowError beyond).")},
    {"discard_range", set_discard_range, METH_VARARGS,
     NUMBRELLE_DOC("discard_range($self, start, stop, /)", "Remove every member in range(start, stop).")},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace pyintset
