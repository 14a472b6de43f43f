// The C API types: IntSet, FrozenIntSet and their iterator.
#ifndef NUMBRELLE_PYTHON_TYPES_H_
#define NUMBRELLE_PYTHON_TYPES_H_

#include "set_object.h"

namespace pyintset {

extern PyTypeObject* IteratorType;

// Creates the three types and adds them to the module; false with an error set on failure.
bool create_types(PyObject* module);

// A new iterator over the set's members, ascending or descending; null with an error set on failure.
PyObject* new_iterator(SetObject* s, bool reverse);

}  // namespace pyintset

#endif  // NUMBRELLE_PYTHON_TYPES_H_
