// IntSet and FrozenIntSet as heap types of the C API, with the operations that must be fast or that Python
// reaches through type slots: construction, len, bool, in, iteration, hash, comparisons, the operators,
// indexing, add and discard. The other methods are attached by methods.cpp.
#include "types.h"

#include <structmember.h>

#include <bit>
#include <cstddef>
#include <utility>

#include "errors.h"
#include "values.h"

namespace pyintset {

PyTypeObject* IteratorType = nullptr;

namespace {

PyObject* abc_set = nullptr;  // collections.abc.Set

// --- Life cycle -----------------------------------------------------------------------------------------

PyObject* frozen_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  if (kwargs != nullptr && PyDict_GET_SIZE(kwargs) != 0) {
    PyErr_SetString(PyExc_TypeError, "FrozenIntSet() takes no keyword arguments");
    return nullptr;
  }
  PyObject* iterable = nullptr;
  if (!PyArg_UnpackTuple(args, "FrozenIntSet", 0, 1, &iterable)) return nullptr;
  try {
    if (iterable == nullptr) return new_set(type, intset::tnumbrelle{});
    // Like frozenset(frozenset), a FrozenIntSet of a FrozenIntSet is the same object.
    if (type == FrozenIntSetType && Py_IS_TYPE(iterable, FrozenIntSetType)) return Py_NewRef(iterable);
    Operand members{iterable, Operand::Mode::insert};
    return new_set(type, members.take());
  } catch (...) {
    set_error_from_current();
    return nullptr;
  }
}

// IntSet() makes an empty set, which __init__ fills; __init__ on an existing set replaces its members.
PyObject* mutable_new(PyTypeObject* type, PyObject*, PyObject*) {
  try {
    return new_set(type, intset::tnumbrelle{});
  } catch (...) {
    set_error_from_current();
    return nullptr;
  }
}

int mutable_init(PyObject* self, PyObject* args, PyObject* kwargs) {
  if (kwargs != nullptr && PyDict_GET_SIZE(kwargs) != 0) {
    PyErr_SetString(PyExc_TypeError, "IntSet() takes no keyword arguments");
    return -1;
  }
  PyObject* iterable = nullptr;
  if (!PyArg_UnpackTuple(args, "IntSet", 0, 1, &iterable)) return -1;
  SetObject* s = as_set(self);
  try {
    intset::tnumbrelle members;
    if (iterable != nullptr) members = Operand{iterable, Operand::Mode::insert}.take();
    wait_for_readers(s);
    s->set() = std::move(members);
    changed(s);
    return 0;
  } catch (...) {
    set_error_from_current();
    return -1;
  }
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
    return length_of(as_set(self));
  } catch (...) {
    set_error_from_current();
    return -1;
  }
}

int set_bool(PyObject* self) {
  SetObject* s = as_set(self);
  return s->length >= 0 ? s->length != 0 : s->set().lowest().has_value();
}

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
  wait_for_readers(s);
  if (s->set().contains(v)) Py_RETURN_NONE;
  const Py_ssize_t length = s->length;
  try {
    s->set().include(v);
  } catch (...) {
    changed(s);
    set_error_from_current();
    return nullptr;
  }
  changed(s);
  if (length >= 0) s->length = length + 1;
  Py_RETURN_NONE;
}

PyObject* set_discard(PyObject* self, PyObject* value) {
  std::int32_t v;
  const int found = lookup_value(value, v);
  if (found < 0) return nullptr;
  SetObject* s = as_set(self);
  if (found == 0) Py_RETURN_NONE;
  wait_for_readers(s);
  if (!s->set().contains(v)) Py_RETURN_NONE;
  const Py_ssize_t length = s->length;
  try {
    s->set().exclude(v);
  } catch (...) {
    changed(s);  // the value is gone even when trimming the buffer failed
    set_error_from_current();
    return nullptr;
  }
  changed(s);
  if (length >= 0) s->length = length - 1;
  Py_RETURN_NONE;
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
    } catch (...) {
      set_error_from_current();
      return -1;
    }
  }
  return s->hash;
}

// --- Comparisons ------------------------------------------------------------------------------------------

// Against another of the package's sets directly; against any other collections.abc.Set through its int
// members in the range (B) and whether it has other members.
PyObject* set_richcompare(PyObject* self, PyObject* other, int op) {
  try {
    if (!is_set(other)) {
      const int is_abc_set = PyAnySet_Check(other) ? 1 : PyObject_IsInstance(other, abc_set);
      if (is_abc_set < 0) return nullptr;
      if (is_abc_set == 0) Py_RETURN_NOTIMPLEMENTED;
    }
    const Operand b{other, Operand::Mode::lookup};
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
  } catch (...) {
    set_error_from_current();
    return nullptr;
  }
}

// --- Operators: between the package's sets only; the result has the left operand's type ------------------

template <class Combine>
PyObject* combined(PyObject* a, PyObject* b, Combine combine) {
  if (!is_set(a) || !is_set(b)) Py_RETURN_NOTIMPLEMENTED;
  try {
    intset::tnumbrelle result;
    Readers readers;
    readers.add(as_set(a));
    readers.add(as_set(b));
    readers.run([&] { result = combine(as_set(a)->set(), as_set(b)->set()); });
    return new_set(Py_TYPE(a), std::move(result));
  } catch (...) {
    set_error_from_current();
    return nullptr;
  }
}

PyObject* set_or(PyObject* a, PyObject* b) {
  return combined(a, b, [](auto& x, auto& y) { return x | y; });
}
PyObject* set_and(PyObject* a, PyObject* b) {
  return combined(a, b, [](auto& x, auto& y) { return x & y; });
}
PyObject* set_sub(PyObject* a, PyObject* b) {
  return combined(a, b, [](auto& x, auto& y) { return x - y; });
}
PyObject* set_xor(PyObject* a, PyObject* b) {
  return combined(a, b, [](auto& x, auto& y) { return x ^ y; });
}

// In place, on an IntSet: changes keep the GIL.
template <class Change>
PyObject* changed_in_place(PyObject* a, PyObject* b, Change change) {
  if (!is_set(b)) Py_RETURN_NOTIMPLEMENTED;
  SetObject* s = as_set(a);
  wait_for_readers(s);
  try {
    change(s->set(), as_set(b)->set());
  } catch (...) {
    changed(s);
    set_error_from_current();
    return nullptr;
  }
  changed(s);
  return Py_NewRef(a);
}

PyObject* set_ior(PyObject* a, PyObject* b) {
  return changed_in_place(a, b, [](auto& x, auto& y) { x |= y; });
}
PyObject* set_iand(PyObject* a, PyObject* b) {
  return changed_in_place(a, b, [](auto& x, auto& y) { x &= y; });
}
PyObject* set_isub(PyObject* a, PyObject* b) {
  return changed_in_place(a, b, [](auto& x, auto& y) { x -= y; });
}
PyObject* set_ixor(PyObject* a, PyObject* b) {
  return changed_in_place(a, b, [](auto& x, auto& y) { x ^= y; });
}

// --- Indexing: s[k] is the k-th smallest member, s[i:j:step] a set of the members at those positions ------

PyObject* member_at(SetObject* s, PyObject* key) {
  Py_ssize_t k = PyNumber_AsSsize_t(key, PyExc_IndexError);
  if (k == -1 && PyErr_Occurred()) throw python_error{};
  const Py_ssize_t n = length_of(s);
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
  const Py_ssize_t count = PySlice_AdjustIndices(length_of(s), &start, &stop, step);
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
  return new_set(Py_TYPE(s), std::move(result));
}

PyObject* set_subscript(PyObject* self, PyObject* key) {
  try {
    if (PyIndex_Check(key)) return member_at(as_set(self), key);
    if (PySlice_Check(key)) return members_at(as_set(self), key);
    PyErr_Format(PyExc_TypeError, "%s indices must be integers or slices, not %.200s", type_name(self),
                 Py_TYPE(key)->tp_name);
    return nullptr;
  } catch (...) {
    set_error_from_current();
    return nullptr;
  }
}

// --- The iterator -----------------------------------------------------------------------------------------

// Converts the members a few hundred at a time (whole blocks) into an array, and each into an int as it is
// asked for. It checks the set's version at every step, so a change to the set stops it with RuntimeError;
// the blocks it reads are the set's own, which stay in place while the version is unchanged.
constexpr int kChunk = 256;

struct IteratorObject {
  PyObject_HEAD SetObject* set;  // null once exhausted
  std::uint64_t version;
  bool reverse;
  Py_ssize_t next_block;  // forward: the next block to convert; reverse: one past it
  Py_ssize_t returned;    // members returned so far, for __length_hint__
  int position, filled;
  std::int32_t members[kChunk + 256];
};

IteratorObject* as_iterator(PyObject* o) { return reinterpret_cast<IteratorObject*>(o); }

void refill(IteratorObject* it) {
  const std::span<const intset::tblock> blocks = it->set->set().blocks();
  it->position = 0;
  it->filled = 0;
  std::int32_t* out = it->members;
  if (!it->reverse) {
    while (it->filled < kChunk && it->next_block < static_cast<Py_ssize_t>(blocks.size())) {
      const intset::tblock& block = blocks[static_cast<std::size_t>(it->next_block++)];
      it->filled += static_cast<int>(write_members({&block, 1}, out + it->filled));
    }
    return;
  }
  while (it->filled < kChunk && it->next_block > 0) {
    const intset::tblock& block = blocks[static_cast<std::size_t>(--it->next_block)];
    const std::int32_t base = block_base(block);
    for (unsigned w = 4; w-- > 0;) {
      for (std::uint64_t word = map_word(block, w); word != 0;) {
        const int bit = 63 - std::countl_zero(word);
        out[it->filled++] = base + static_cast<std::int32_t>(64 * w) + bit;
        word &= ~(std::uint64_t{1} << bit);
      }
    }
  }
}

PyObject* iterator_next(PyObject* self) {
  IteratorObject* it = as_iterator(self);
  if (it->set == nullptr) return nullptr;
  if (it->version != it->set->version) {
    PyErr_Format(PyExc_RuntimeError, "%s changed during iteration", type_name(it->set));
    return nullptr;
  }
  if (it->position == it->filled) {
    refill(it);
    if (it->filled == 0) {
      Py_CLEAR(it->set);
      return nullptr;
    }
  }
  ++it->returned;
  return PyLong_FromLong(it->members[it->position++]);
}

PyObject* iterator_length_hint(PyObject* self, PyObject*) {
  IteratorObject* it = as_iterator(self);
  if (it->set == nullptr || it->version != it->set->version) return PyLong_FromLong(0);
  try {
    return PyLong_FromSsize_t(length_of(it->set) - it->returned);
  } catch (...) {
    set_error_from_current();
    return nullptr;
  }
}

void iterator_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  Py_CLEAR(as_iterator(self)->set);
  type->tp_free(self);
  Py_DECREF(type);
}

// --- The types: their slots, methods and layouts ---------------------------------------------------------

PyMethodDef mutable_methods[] = {
    {"add", set_add, METH_O,
     "add(value, /)\n--\n\nAdds an int to the set (OverflowError out of the 32-bit range)."},
    {"discard", set_discard, METH_O, "discard(value, /)\n--\n\nRemoves the value if it is a member."},
    {"__reversed__", set_reversed, METH_NOARGS, "The members in descending order."},
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef frozen_methods[] = {
    {"__reversed__", set_reversed, METH_NOARGS, "The members in descending order."},
    {nullptr, nullptr, 0, nullptr},
};

PyMemberDef set_members[] = {
    {"__weaklistoffset__", T_PYSSIZET, offsetof(SetObject, weakrefs), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

template <class F>
void* slot(F f) {
  return reinterpret_cast<void*>(f);
}

PyType_Slot mutable_slots[] = {
    {Py_tp_doc, const_cast<char*>("A mutable set of 32-bit signed integers.")},
    {Py_tp_new, slot(mutable_new)},
    {Py_tp_init, slot(mutable_init)},
    {Py_tp_dealloc, slot(set_dealloc)},
    {Py_tp_hash, slot(PyObject_HashNotImplemented)},
    {Py_tp_richcompare, slot(set_richcompare)},
    {Py_tp_iter, slot(set_iter)},
    {Py_tp_methods, mutable_methods},
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
    {Py_tp_doc, const_cast<char*>("An immutable, hashable set of 32-bit signed integers.")},
    {Py_tp_new, slot(frozen_new)},
    {Py_tp_dealloc, slot(set_dealloc)},
    {Py_tp_hash, slot(frozen_hash)},
    {Py_tp_richcompare, slot(set_richcompare)},
    {Py_tp_iter, slot(set_iter)},
    {Py_tp_methods, frozen_methods},
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

PyMethodDef iterator_methods[] = {
    {"__length_hint__", iterator_length_hint, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot iterator_slots[] = {
    {Py_tp_dealloc, slot(iterator_dealloc)},
    {Py_tp_iter, slot(PyObject_SelfIter)},
    {Py_tp_iternext, slot(iterator_next)},
    {Py_tp_methods, iterator_methods},
    {0, nullptr},
};

PyType_Spec mutable_layout{"intset.IntSet", sizeof(SetObject), 0, Py_TPFLAGS_DEFAULT, mutable_slots};
PyType_Spec frozen_layout{"intset.FrozenIntSet", sizeof(SetObject), 0, Py_TPFLAGS_DEFAULT, frozen_slots};
PyType_Spec iterator_layout{"intset._intset.iterator", sizeof(IteratorObject), 0, Py_TPFLAGS_DEFAULT,
                            iterator_slots};

bool add_type(PyObject* module, PyType_Spec& layout, PyTypeObject*& type, const char* name) {
  type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&layout));
  return type != nullptr && PyModule_AddObjectRef(module, name, reinterpret_cast<PyObject*>(type)) == 0;
}

}  // namespace

PyObject* new_iterator(SetObject* s, bool reverse) {
  IteratorObject* it = PyObject_New(IteratorObject, IteratorType);
  if (it == nullptr) return nullptr;
  it->set = reinterpret_cast<SetObject*>(Py_NewRef(reinterpret_cast<PyObject*>(s)));
  it->version = s->version;
  it->reverse = reverse;
  it->next_block = reverse ? static_cast<Py_ssize_t>(s->set().blocks().size()) : 0;
  it->returned = 0;
  it->position = 0;
  it->filled = 0;
  return reinterpret_cast<PyObject*>(it);
}

bool create_types(PyObject* module) {
  PyObject* abc = PyImport_ImportModule("collections.abc");
  if (abc == nullptr) return false;
  abc_set = PyObject_GetAttrString(abc, "Set");
  Py_DECREF(abc);
  return abc_set != nullptr && add_type(module, mutable_layout, IntSetType, "IntSet") &&
         add_type(module, frozen_layout, FrozenIntSetType, "FrozenIntSet") &&
         add_type(module, iterator_layout, IteratorType, "_Iterator");
}

}  // namespace pyintset
