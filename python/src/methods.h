// The methods of IntSet and FrozenIntSet that are not type slots, as tables of C methods (each ending with a
// null entry), and what the slots share with them.
#ifndef NUMBRELLE_PYTHON_METHODS_H_
#define NUMBRELLE_PYTHON_METHODS_H_

#include "values.h"

namespace pyintset {

extern PyMethodDef reading_methods[];     // both types: algebra, counts, ranges and order (methods.cpp)
extern PyMethodDef conversion_methods[];  // both types: arrays, bytes, files, pickling (conversions.cpp)
extern PyMethodDef batch_methods[];       // both types: contains_many, rank_many, select_many (batches.cpp)
extern PyMethodDef changing_methods[];    // IntSet only (changes.cpp)

// The changes that take a set: |=, &=, -=, ^= and update(), intersection_update() and so on.
enum class Change { unite, intersect, subtract, invert };
// Changes an IntSet by the operand: value by value when it is a few values, otherwise by walking both
// sets. Holds the GIL throughout, after waiting for the set's readers.
void change_by(SetObject* s, const Operand& operand, Change change);

// repr(s): every member while that stays short, else the count, the first few and the last.
PyObject* set_repr(PyObject* self);

// A new iterator over the members in [first, last], ascending or descending; null with an error set.
PyObject* new_iterator(SetObject* s, std::int32_t first, std::int32_t last, bool reverse);
PyObject* new_iterator(SetObject* s, bool reverse);

}  // namespace pyintset

#endif  // NUMBRELLE_PYTHON_METHODS_H_
