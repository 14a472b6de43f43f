// IntSet and FrozenIntSet as heap types of the C API, with the operations that Python reaches through type
// slots: construction, len, bool, in, iteration, hash, comparisons, the operators, indexing, and add and
// discard. The other methods come from methods.cpp, changes.cpp and conversions.cpp; the iterator from
// iterator.cpp. Both types can be subclassed, and their operations then make sets of the base type, as
// set's and frozenset's do.
#include "types.h"

#include <structmember.h>

#include <bit>
#include <cstddef>
#include <cstring>
#include <utility>
#include <vector>

#include "method_support.h"
#include "methods.h"
#include "values.h"

namespace pyintset {

namespace {

using Mode = Operand::Mode;

PyObject* abc_set = nullptr;  // collections.abc.Set

// The type's name without its module, as messages give it.
const char* short_name(PyTypeObject* type) {
  const char* dot = std::strrchr(type->tp_name, '.');
  return dot != nullptr ? dot + 1 : type->tp_name;
}

// --- Life cycle -----------------------------------------------------------------------------------------

PyObject* frozen_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  const bool own_init = type->tp_init != FrozenIntSetType->tp_init;
  if (!own_init && kwargs != nullptr && PyDict_GET_SIZE(kwargs) != 0) {
    PyErr_SetString(PyExc_TypeError, "FrozenIntSet() takes no keyword arguments");
    return nullptr;
  }
  PyObject* iterable = nullptr;
  if (!PyArg_UnpackTuple(args, short_name(type), 0, 1, &iterable)) return nullptr;
  return guarded([&] {
    if (iterable == nullptr) return new_set(type, intset::tnumbrelle{});
    // Like frozenset(frozenset), a FrozenIntSet of a FrozenIntSet is the same object.
    if (type == FrozenIntSetType && Py_IS_TYPE(iterable, FrozenIntSetType)) return Py_NewRef(iterable);
    Operand members{iterable, Mode::insert};
    return new_set(type, members.take());
  });
}

// IntSet() makes an empty set, which __init__ fills; __init__ on an existing set replaces its members.
PyObject* mutable_new(PyTypeObject* type, PyObject*, PyObject*) {
  return guarded([&] { return new_set(type, intset::tnumbrelle{}); });
}

int mutable_init(PyObject* self, PyObject* args, PyObject* kwargs) {
  if (kwargs != nullptr && PyDict_GET_SIZE(kwargs) != 0) {
    PyErr_SetString(PyExc_TypeError, "IntSet() takes no keyword arguments");
    return -1;
  }
  PyObject* iterable = nullptr;
  if (!PyArg_UnpackTuple(args, short_name(Py_TYPE(self)), 0, 1, &iterable)) return -1;
  SetObject* s = as_set(self);
  const PyObject* done = guarded([&] {
    intset::tnumbrelle members;
    if (iterable != nullptr) members = Operand{iterable, Mode::insert}.take();
    wait_for_readers(s);
    s->set() = std::move(members);
    changed(s);
    return Py_None;
  });
  return done != nullptr ? 0 : -1;
}

void set_dealloc(PyObject* self) {
  SetObject* s = as_set(self);
  PyTypeObject* type = Py_TYPE(self);
  if (s->weakrefs != nullptr) PyObject_ClearWeakRefs(self);
  s->set().~tnumbrelle();
  type->tp_free(self);
  Py_DECREF(type);
}

// --- Size and lookups -------------------------------------------------------------------------------------

Py_ssize_t set_length(PyObject* self) {
  try {
    return py_length(as_set(self));
  } catch (const std::exception&) {
    set_error_from_current();
    return -1;
  }
}

int set_bool(PyObject* self) { return as_set(self)->set().size() != 0; }

int set_contains(PyObject* self, PyObject* value) {
  std::int32_t v;
  const int found = lookup_value(value, v);
  if (found <= 0) return found;
  return as_set(self)->set().contains(v);
}

// --- Changing single members ------------------------------------------------------------------------------

PyObject* set_add(PyObject* self, PyObject* value) {
  std::int32_t v;
  if (!insert_value(value, v)) return nullptr;
  SetObject* s = as_set(self);
  return guarded([&] {
    wait_for_readers(s);
    if (s->set().contains(v)) Py_RETURN_NONE;
    try {
      s->set().include(v);
    } catch (...) {
      changed(s);
      throw;
    }
    changed(s);
    Py_RETURN_NONE;
  });
}

PyObject* set_discard(PyObject* self, PyObject* value) {
  std::int32_t v;
  const int found = lookup_value(value, v);
  if (found < 0) return nullptr;
  if (found == 0) Py_RETURN_NONE;
  SetObject* s = as_set(self);
  return guarded([&] {
    wait_for_readers(s);
    if (!s->set().contains(v)) Py_RETURN_NONE;
    try {
      s->set().exclude(v);
    } catch (...) {
      changed(s);  // the value is gone even when trimming the buffer failed
      throw;
    }
    changed(s);
    Py_RETURN_NONE;
  });
}

// --- Iteration --------------------------------------------------------------------------------------------

PyObject* set_iter(PyObject* self) { return new_iterator(as_set(self), false); }
PyObject* set_reversed(PyObject* self, PyObject*) { return new_iterator(as_set(self), true); }

// --- Hash -------------------------------------------------------------------------------------------------

// frozenset's hash, so that a FrozenIntSet and a frozenset of the same ints hash alike: the members' hashes
// (an int's hash is itself, but -2 for -1), each with its bits shuffled, XORed together, then the count
// and a final mixing, all in Py_uhash_t arithmetic.
Py_uhash_t shuffled(Py_uhash_t h) { return ((h ^ 89869747UL) ^ (h << 16)) * 3644798167UL; }

Py_uhash_t frozenset_hash_of(const intset::tnumbrelle& set) {
  Py_uhash_t hash = 0, n = 0;
  for (const intset::tblock& block : set.blocks()) {
    const std::int32_t base = block_base(block);
    for (unsigned w = 0; w < 4; ++w) {
      for (std::uint64_t word = map_word(block, w); word != 0; word &= word - 1) {
        const std::int32_t v = base + static_cast<std::int32_t>(64 * w) + std::countr_zero(word);
        hash ^= shuffled(static_cast<Py_uhash_t>(static_cast<Py_hash_t>(v == -1 ? -2 : v)));
        ++n;
      }
    }
  }
  hash ^= (n + 1) * 1927868237UL;
  hash ^= (hash >> 11) ^ (hash >> 25);
  hash = hash * 69069U + 907133923UL;
  if (hash == static_cast<Py_uhash_t>(-1)) hash = 590923713UL;
  return hash;
}

Py_hash_t frozen_hash(PyObject* self) {
  SetObject* s = as_set(self);
  if (s->hash == -1) {
    try {
      Py_uhash_t hash = 0;
      Readers readers;
      readers.add(s);
      readers.run([&] { hash = frozenset_hash_of(s->set()); });
      s->hash = static_cast<Py_hash_t>(hash);
    } catch (const std::exception&) {
      set_error_from_current();
      return -1;
    }
  }
  return s->hash;
}

// --- Comparisons and operators: against the package's sets and any other collections.abc.Set ------------

// 1 when `other` is a Set an operator or comparison takes, 0 when not, -1 with an error set.
int is_abc_set(PyObject* other) {
  if (is_set(other) || PyAnySet_Check(other)) return 1;
  return PyObject_IsInstance(other, abc_set);
}

// Against any other Set through its int members in the range (B) and whether it has other members.
PyObject* set_richcompare(PyObject* self, PyObject* other, int op) {
  const int comparable = is_abc_set(other);
  if (comparable < 0) return nullptr;
  if (comparable == 0) Py_RETURN_NOTIMPLEMENTED;
  return guarded([&] {
    const Operand b{other, Mode::lookup};
    const intset::tnumbrelle& a = as_set(self)->set();
    const bool others = b.others();
    bool result = false;
    Readers readers;
    readers.add(as_set(self));
    if (b.source() != nullptr) readers.add(b.source());
    readers.run([&] {
      switch (op) {
        case Py_EQ:
        case Py_NE:
          result = !others && a.equals(b.set());
          if (op == Py_NE) result = !result;
          break;
        case Py_LE:
          result = a.is_subset_of(b.set());
          break;
        case Py_LT:
          result = a.is_subset_of(b.set()) && (others || !a.equals(b.set()));
          break;
        case Py_GE:
          result = !others && a.is_superset_of(b.set());
          break;
        default:  // Py_GT
          result = !others && a.is_superset_of(b.set()) && !a.equals(b.set());
          break;
      }
    });
    return PyBool_FromLong(result);
  });
}

// a op b, where one of a and b is the package's set and the other any Set (else NotImplemented, as set's
// operators refuse other iterables). The other operand's elements must all be members when they end up in
// the result (`insert`), and are only looked up otherwise. The result has the type of the left operand when
// that is the package's, else the right one's.
template <class Combine>
PyObject* combined(PyObject* a, PyObject* b, Mode a_mode, Mode b_mode, Combine combine) {
  const int takes = is_abc_set(is_set(a) ? b : a);
  if (takes < 0) return nullptr;
  if (takes == 0) Py_RETURN_NOTIMPLEMENTED;
  PyTypeObject* type = base_type(is_set(a) ? a : b);
  return guarded([&] {
    const Operand x{a, a_mode}, y{b, b_mode};
    intset::tnumbrelle result;
    Readers readers;
    if (x.source() != nullptr) readers.add(x.source());
    if (y.source() != nullptr) readers.add(y.source());
    readers.run([&] { result = combine(x.set(), y.set()); });
    return new_set(type, std::move(result));
  });
}

PyObject* set_or(PyObject* a, PyObject* b) {
  return combined(a, b, Mode::insert, Mode::insert, [](auto& x, auto& y) { return x | y; });
}
PyObject* set_and(PyObject* a, PyObject* b) {
  return combined(a, b, Mode::lookup, Mode::lookup, [](auto& x, auto& y) { return x & y; });
}
PyObject* set_sub(PyObject* a, PyObject* b) {
  return combined(a, b, Mode::insert, Mode::lookup, [](auto& x, auto& y) { return x - y; });
}
PyObject* set_xor(PyObject* a, PyObject* b) {
  return combined(a, b, Mode::insert, Mode::insert, [](auto& x, auto& y) { return x ^ y; });
}

// In place, on an IntSet.
PyObject* changed_in_place(PyObject* a, PyObject* b, Mode mode, Change change) {
  const int takes = is_abc_set(b);
  if (takes < 0) return nullptr;
  if (takes == 0) Py_RETURN_NOTIMPLEMENTED;
  return guarded([&] {
    change_by(as_set(a), Operand{b, mode}, change);
    return Py_NewRef(a);
  });
}

PyObject* set_ior(PyObject* a, PyObject* b) { return changed_in_place(a, b, Mode::insert, Change::unite); }
PyObject* set_iand(PyObject* a, PyObject* b) {
  return changed_in_place(a, b, Mode::lookup, Change::intersect);
}
PyObject* set_isub(PyObject* a, PyObject* b) {
  return changed_in_place(a, b, Mode::lookup, Change::subtract);
}
PyObject* set_ixor(PyObject* a, PyObject* b) { return changed_in_place(a, b, Mode::insert, Change::invert); }

// --- Indexing: s[k] is the k-th smallest member, s[i:j:step] a set of the members at those positions ------

PyObject* member_at(SetObject* s, PyObject* key) {
  Py_ssize_t k = PyNumber_AsSsize_t(key, PyExc_IndexError);
  if (k == -1 && PyErr_Occurred()) throw python_error{};
  const Py_ssize_t n = py_length(s);
  if (k < 0) k += n;
  if (k < 0 || k >= n) raise(PyExc_IndexError, "%s index out of range", type_name(s));
  std::int32_t member = 0;
  Readers readers;
  readers.add(s);
  readers.run([&] { member = *s->set().select(k); });
  return PyLong_FromLong(member);
}

PyObject* members_at(SetObject* s, PyObject* slice) {
  Py_ssize_t start, stop, step;
  if (PySlice_Unpack(slice, &start, &stop, &step) < 0) throw python_error{};
  const Py_ssize_t count = PySlice_AdjustIndices(py_length(s), &start, &stop, step);
  intset::tnumbrelle result;
  if (count > 0) {
    // The positions in ascending order: first, first + stride, ..., count of them.
    const Py_ssize_t first = step > 0 ? start : start + (count - 1) * step;
    const Py_ssize_t stride = step > 0 ? step : -step;
    Readers readers;
    readers.add(s);
    readers.run([&] {
      const intset::tnumbrelle& set = s->set();
      const std::int32_t lowest = *set.select(first);
      if (stride == 1) {
        const std::int32_t highest = *set.select(first + count - 1);
        result = set;
        if (lowest > INT32_MIN) result.exclude_range(INT32_MIN, lowest - 1);
        if (highest < INT32_MAX) result.exclude_range(highest + 1, INT32_MAX);
        return;
      }
      std::vector<std::int32_t> members;
      members.reserve(static_cast<std::size_t>(count));
      auto it = set.lower_bound(lowest);
      for (Py_ssize_t i = 0;; ++i) {
        members.push_back(*it);
        if (i + 1 == count) break;
        for (Py_ssize_t j = 0; j < stride; ++j) ++it;
      }
      result.include_array(members);
    });
  }
  return new_set(base_type(as_object(s)), std::move(result));
}

PyObject* set_subscript(PyObject* self, PyObject* key) {
  return guarded([&] {
    if (PyIndex_Check(key)) return member_at(as_set(self), key);
    if (PySlice_Check(key)) return members_at(as_set(self), key);
    raise(PyExc_TypeError, "%s indices must be integers or slices, not %.200s", type_name(self),
          Py_TYPE(key)->tp_name);
  });
}

// --- The types: their slots, methods and layouts ---------------------------------------------------------

PyMethodDef mutable_slot_methods[] = {
    {"add", set_add, METH_O,
     NUMBRELLE_DOC("add($self, value, /)",
                   "Add an int to the set (OverflowError outside the 32-bit range).")},
    {"discard", set_discard, METH_O,
     NUMBRELLE_DOC("discard($self, value, /)", "Remove value from the set if it is a member.")},
    {"__reversed__", set_reversed, METH_NOARGS,
     NUMBRELLE_DOC("__reversed__($self, /)", "An iterator over the members in descending order.")},
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef frozen_slot_methods[] = {
    {"__reversed__", set_reversed, METH_NOARGS,
     NUMBRELLE_DOC("__reversed__($self, /)", "An iterator over the members in descending order.")},
    {nullptr, nullptr, 0, nullptr},
};

// A type's methods: the tables given, one after the other, in storage that lasts as long as the module.
PyMethodDef* methods_of(std::vector<PyMethodDef>& storage, std::initializer_list<const PyMethodDef*> tables) {
  for (const PyMethodDef* table : tables)
    for (const PyMethodDef* m = table; m->ml_name != nullptr; ++m) storage.push_back(*m);
  storage.push_back({nullptr, nullptr, 0, nullptr});
  return storage.data();
}
std::vector<PyMethodDef> mutable_methods, frozen_methods;

PyMemberDef set_members[] = {
    {"__weaklistoffset__", T_PYSSIZET, offsetof(SetObject, weakrefs), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

template <class F>
void* slot(F f) {
  return reinterpret_cast<void*>(f);
}

constexpr const char* kMutableDoc = NUMBRELLE_DOC(
    "IntSet(iterable=(), /)",
    "A mutable set of 32-bit signed integers, kept as sorted 256-value blocks of 36 bytes each.\n\n"
    "It behaves as set does and adds ranges, order, counts without building, numpy arrays and files.\n"
    "len() takes O(1); in, add and discard take O(log blocks); the operators and the methods that take a\n"
    "whole set walk the blocks once, and release the GIL on big sets. Unhashable.");

constexpr const char* kFrozenDoc = NUMBRELLE_DOC(
    "FrozenIntSet(iterable=(), /)",
    "An immutable set of 32-bit signed integers, kept as sorted 256-value blocks of 36 bytes each.\n\n"
    "It behaves as frozenset does, and hashes as a frozenset of the same ints, computed once; the rest\n"
    "is as IntSet, without the changes.");

PyType_Slot mutable_slots[] = {
    {Py_tp_doc, const_cast<char*>(kMutableDoc)},
    {Py_tp_new, slot(mutable_new)},
    {Py_tp_init, slot(mutable_init)},
    {Py_tp_dealloc, slot(set_dealloc)},
    {Py_tp_repr, slot(set_repr)},
    {Py_tp_hash, slot(PyObject_HashNotImplemented)},
    {Py_tp_richcompare, slot(set_richcompare)},
    {Py_tp_iter, slot(set_iter)},
    {Py_tp_methods, nullptr},  // filled by create_types()
    {Py_tp_members, set_members},
    {Py_sq_length, slot(set_length)},
    {Py_sq_contains, slot(set_contains)},
    {Py_mp_subscript, slot(set_subscript)},
    {Py_nb_bool, slot(set_bool)},
    {Py_nb_or, slot(set_or)},
    {Py_nb_and, slot(set_and)},
    {Py_nb_subtract, slot(set_sub)},
    {Py_nb_xor, slot(set_xor)},
    {Py_nb_inplace_or, slot(set_ior)},
    {Py_nb_inplace_and, slot(set_iand)},
    {Py_nb_inplace_subtract, slot(set_isub)},
    {Py_nb_inplace_xor, slot(set_ixor)},
    {0, nullptr},
};

PyType_Slot frozen_slots[] = {
    {Py_tp_doc, const_cast<char*>(kFrozenDoc)},
    {Py_tp_new, slot(frozen_new)},
    {Py_tp_dealloc, slot(set_dealloc)},
    {Py_tp_repr, slot(set_repr)},
    {Py_tp_hash, slot(frozen_hash)},
    {Py_tp_richcompare, slot(set_richcompare)},
    {Py_tp_iter, slot(set_iter)},
    {Py_tp_methods, nullptr},  // filled by create_types()
    {Py_tp_members, set_members},
    {Py_sq_length, slot(set_length)},
    {Py_sq_contains, slot(set_contains)},
    {Py_mp_subscript, slot(set_subscript)},
    {Py_nb_bool, slot(set_bool)},
    {Py_nb_or, slot(set_or)},
    {Py_nb_and, slot(set_and)},
    {Py_nb_subtract, slot(set_sub)},
    {Py_nb_xor, slot(set_xor)},
    {0, nullptr},
};

void fill_methods(PyType_Slot* slots, PyMethodDef* methods) {
  for (PyType_Slot* s = slots; s->slot != 0; ++s)
    if (s->slot == Py_tp_methods) s->pfunc = methods;
}

constexpr unsigned kFlags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
PyType_Spec mutable_layout{"intset.IntSet", sizeof(SetObject), 0, kFlags, mutable_slots};
PyType_Spec frozen_layout{"intset.FrozenIntSet", sizeof(SetObject), 0, kFlags, frozen_slots};

bool add_type(PyObject* module, PyType_Spec& layout, PyTypeObject*& type, const char* name) {
  type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&layout));
  return type != nullptr && PyModule_AddObjectRef(module, name, reinterpret_cast<PyObject*>(type)) == 0;
}

}  // namespace

bool create_types(PyObject* module) {
  const Ref abc{PyImport_ImportModule("collections.abc")};
  if (!abc) return false;
  abc_set = PyObject_GetAttrString(abc.get(), "Set");
  fill_methods(mutable_slots,
               methods_of(mutable_methods, {mutable_slot_methods, reading_methods, batch_methods,
                                            conversion_methods, changing_methods}));
  fill_methods(frozen_slots, methods_of(frozen_methods, {frozen_slot_methods, reading_methods, batch_methods,
                                                         conversion_methods}));
  return abc_set != nullptr && add_type(module, mutable_layout, IntSetType, "IntSet") &&
         add_type(module, frozen_layout, FrozenIntSetType, "FrozenIntSet") && create_iterator_type(module);
}

}  // namespace pyintset
