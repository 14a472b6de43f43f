// The iterator over a set's members, ascending or descending, over all of them or over those of a range
// (irange()).
//
// It converts the members a few hundred at a time into an array, and each into an int as it is asked for:
// ascending, with members_from() from the member after the last one converted; descending, whole blocks at a
// time from the last. It checks the set's version at every step, so a change to the set stops it with
// RuntimeError; the blocks it reads are the set's own, which stay in place while the version is unchanged.
#include <algorithm>
#include <bit>
#include <span>

#include "method_support.h"
#include "methods.h"
#include "types.h"

namespace pyintset {

namespace {

PyTypeObject* IteratorType = nullptr;

constexpr int kChunk = 256;

struct IteratorObject {
  PyObject_HEAD SetObject* set;  // null once exhausted
  std::uint64_t version;
  bool reverse;
  bool more;  // whether members in [first, last] may remain after those converted
  std::int32_t first, last;
  // Forward: the members still to convert are those from `from` on.
  std::int32_t from;
  // Reverse: the blocks that may hold members still to convert, as positions in the set's block array: the
  // last one's plus one, and the first one's.
  Py_ssize_t next_block, end_block;
  Py_ssize_t returned;  // members returned so far, for __length_hint__
  int position, filled;
  std::int32_t members[kChunk + 256];
};

IteratorObject* as_iterator(PyObject* o) { return reinterpret_cast<IteratorObject*>(o); }

// Converts the next members in [first, last], from `from` on, and notes whether more may follow.
void refill_forward(IteratorObject* it) {
  const std::span<const std::int32_t> got = it->set->set().members_from(it->from, {it->members, kChunk});
  std::size_t n = got.size();
  if (n != 0 && got.back() >= it->last) {
    n = static_cast<std::size_t>(std::upper_bound(got.begin(), got.end(), it->last) - got.begin());
    it->more = false;
  } else if (n < static_cast<std::size_t>(kChunk)) {
    it->more = false;  // the set has no member after these
  } else {
    it->from = got.back() + 1;  // below `last`, so no overflow
  }
  it->filled = static_cast<int>(n);
}

// Writes the block's members in [first, last] to `out`, descending; returns how many.
int write_block_descending(const intset::tblock& block, std::int32_t first, std::int32_t last,
                           std::int32_t* out) {
  const std::int32_t base = block_base(block);
  int n = 0;
  for (unsigned w = 4; w-- > 0;) {
    for (std::uint64_t word = map_word(block, w); word != 0;) {
      const int bit = 63 - std::countl_zero(word);
      out[n++] = base + static_cast<std::int32_t>(64 * w) + bit;
      word &= ~(std::uint64_t{1} << bit);
    }
  }
  if (base >= first && static_cast<std::int64_t>(base) + 255 <= last) return n;
  return static_cast<int>(
      std::remove_if(out, out + n, [&](std::int32_t v) { return v < first || v > last; }) - out);
}

// Converts whole blocks, from the last not yet converted down, until a chunk's worth of members is had.
void refill_reverse(IteratorObject* it) {
  const std::span<const intset::tblock> blocks = it->set->set().blocks();
  while (it->filled < kChunk && it->next_block > it->end_block) {
    const auto at = static_cast<std::size_t>(--it->next_block);
    it->filled += write_block_descending(blocks[at], it->first, it->last, it->members + it->filled);
  }
  it->more = it->next_block > it->end_block;
}

void refill(IteratorObject* it) {
  it->position = 0;
  it->filled = 0;
  if (!it->more) return;
  it->reverse ? refill_reverse(it) : refill_forward(it);
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
  return guarded([&] {
    const std::int64_t n = it->first == INT32_MIN && it->last == INT32_MAX
                               ? it->set->set().size()
                               : it->set->set().count_range(it->first, it->last);
    return PyLong_FromLongLong(n - it->returned);
  });
}

void iterator_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  Py_CLEAR(as_iterator(self)->set);
  type->tp_free(self);
  Py_DECREF(type);
}

PyMethodDef iterator_methods[] = {
    {"__length_hint__", iterator_length_hint, METH_NOARGS,
     NUMBRELLE_DOC("__length_hint__($self, /)", "The number of members still to come.")},
    {nullptr, nullptr, 0, nullptr},
};

template <class F>
void* slot(F f) {
  return reinterpret_cast<void*>(f);
}

PyType_Slot iterator_slots[] = {
    {Py_tp_dealloc, slot(iterator_dealloc)},
    {Py_tp_iter, slot(PyObject_SelfIter)},
    {Py_tp_iternext, slot(iterator_next)},
    {Py_tp_methods, iterator_methods},
    {0, nullptr},
};

PyType_Spec iterator_layout{"intset._intset.iterator", sizeof(IteratorObject), 0, Py_TPFLAGS_DEFAULT,
                            iterator_slots};

// The position of the first block whose key is at least `key`.
Py_ssize_t first_block_from(std::span<const intset::tblock> blocks, std::int64_t key) {
  return std::partition_point(blocks.begin(), blocks.end(),
                              [&](const intset::tblock& b) { return b.key < key; }) -
         blocks.begin();
}

}  // namespace

PyObject* new_iterator(SetObject* s, std::int32_t first, std::int32_t last, bool reverse) {
  IteratorObject* it = PyObject_New(IteratorObject, IteratorType);
  if (it == nullptr) return nullptr;
  it->set = reinterpret_cast<SetObject*>(Py_NewRef(as_object(s)));
  it->version = s->version;
  it->reverse = reverse;
  it->more = first <= last;
  it->first = first;
  it->last = last;
  it->from = first;
  it->next_block = it->end_block = 0;
  if (reverse && it->more) {
    const std::span<const intset::tblock> blocks = s->set().blocks();
    it->end_block = first_block_from(blocks, first >> 8);
    it->next_block = first_block_from(blocks, static_cast<std::int64_t>(last >> 8) + 1);
  }
  it->returned = 0;
  it->position = 0;
  it->filled = 0;
  return reinterpret_cast<PyObject*>(it);
}

PyObject* new_iterator(SetObject* s, bool reverse) { return new_iterator(s, INT32_MIN, INT32_MAX, reverse); }

bool create_iterator_type(PyObject* module) {
  IteratorType = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&iterator_layout));
  return IteratorType != nullptr &&
         PyModule_AddObjectRef(module, "_Iterator", reinterpret_cast<PyObject*>(IteratorType)) == 0;
}

}  // namespace pyintset
