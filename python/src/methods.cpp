// The methods of IntSet and FrozenIntSet that are not type slots, as pybind11 functions attached to the C API
// types. `self` arrives through the casters below, which accept only the package's sets.
#include "methods.h"

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <deque>
#include <filesystem>
#include <istream>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "errors.h"
#include "intset/files.h"
#include "intset/roaring_format.h"
#include "streams.h"
#include "values.h"

namespace py = pybind11;

namespace pyintset {
// Either of the package's sets, as `self` or an argument.
struct AnySet {
  SetObject* s = nullptr;
};
// An IntSet.
struct MutableSet {
  SetObject* s = nullptr;
};
}  // namespace pyintset

namespace pybind11::detail {
template <>
struct type_caster<pyintset::AnySet> {
  PYBIND11_TYPE_CASTER(pyintset::AnySet, const_name("IntSet | FrozenIntSet"));
  bool load(handle source, bool) {
    if (!pyintset::is_set(source.ptr())) return false;
    value.s = pyintset::as_set(source.ptr());
    return true;
  }
};
template <>
struct type_caster<pyintset::MutableSet> {
  PYBIND11_TYPE_CASTER(pyintset::MutableSet, const_name("IntSet"));
  bool load(handle source, bool) {
    if (!Py_IS_TYPE(source.ptr(), pyintset::IntSetType)) return false;
    value.s = pyintset::as_set(source.ptr());
    return true;
  }
};
}  // namespace pybind11::detail

namespace pyintset {

namespace {

using intset::tnumbrelle;
using Mode = Operand::Mode;

constexpr long long kLowest = std::numeric_limits<std::int32_t>::min();
constexpr long long kHighest = std::numeric_limits<std::int32_t>::max();

py::object steal(PyObject* object) {
  if (object == nullptr) throw python_error{};
  return py::reinterpret_steal<py::object>(object);
}

py::handle type_of(SetObject* s) { return reinterpret_cast<PyObject*>(Py_TYPE(s)); }

// An int argument (or an object with __index__), saturated at the limits of long long.
long long integer_argument(py::handle object) {
  const py::object integer = steal(PyNumber_Index(object.ptr()));
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(integer.ptr(), &overflow);
  if (overflow != 0)
    return overflow > 0 ? std::numeric_limits<long long>::max() : std::numeric_limits<long long>::min();
  if (v == -1) throw_if_error();
  return v;
}

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

// --- Members out ----------------------------------------------------------------------------------------

// Makes an output object of the set's length with `make`, then fills its buffer (4-byte integers) without
// the GIL. The object is made before registering as a reader; should making it have changed the set, it is
// made again.
template <class Make>
py::object filled(SetObject* s, Make make) {
  for (;;) {
    const Py_ssize_t n = length_of(s);
    const std::uint64_t version = s->version;
    py::object out = make(n);
    if (s->version != version) continue;
    Py_buffer view;
    if (PyObject_GetBuffer(out.ptr(), &view, PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS) != 0) throw python_error{};
    struct Release {
      Py_buffer* view;
      ~Release() { PyBuffer_Release(view); }
    } release{&view};
    if (view.len != static_cast<Py_ssize_t>(n * sizeof(std::int32_t))) {
      raise(PyExc_SystemError, "the output buffer has %zd bytes, not %zd", view.len, n * 4);
    }
    Readers readers;
    readers.add(s);
    readers.run([&] { write_members(s->set().blocks(), static_cast<std::int32_t*>(view.buf)); });
    return out;
  }
}

py::object to_numpy(AnySet self) {
  const py::module_ numpy = py::module_::import("numpy");
  return filled(self.s, [&](Py_ssize_t n) { return numpy.attr("empty")(n, numpy.attr("int32")); });
}

py::object to_array(AnySet self) {
  const py::object array = py::module_::import("array").attr("array");
  return filled(self.s, [&](Py_ssize_t n) {
    py::object out = array("i", py::make_tuple(0)) * py::int_(n);
    if (out.attr("itemsize").cast<int>() != 4)
      raise(PyExc_SystemError, "array('i') does not hold 32-bit items");
    return out;
  });
}

// --- Bytes and files ------------------------------------------------------------------------------------

enum class Format { nbl, roaring };

Format format_named(std::string_view name) {
  if (name == "nbl") return Format::nbl;
  if (name == "roaring") return Format::roaring;
  raise(PyExc_ValueError, "unknown format '%s': the formats are 'nbl' and 'roaring'",
        std::string(name).c_str());
}

// A path argument (str, bytes or os.PathLike) as the name the system uses, and as given for messages.
struct FileName {
  py::object given;
  std::filesystem::path path;

  explicit FileName(py::handle object) : given(py::reinterpret_borrow<py::object>(object)) {
    const py::object name = steal(PyOS_FSPath(object.ptr()));
    py::object bytes;
    if (PyBytes_Check(name.ptr())) {
      bytes = name;
    } else {
      bytes = steal(PyUnicode_EncodeFSDefault(name.ptr()));
    }
    path = std::filesystem::path(std::string(PyBytes_AS_STRING(bytes.ptr()), PyBytes_GET_SIZE(bytes.ptr())));
  }

  Format format(const std::optional<std::string>& format) const {
    if (format) return format_named(*format);
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".nbl") return Format::nbl;
    if (extension == ".roaring") return Format::roaring;
    raise(PyExc_ValueError, "cannot tell the format of %R from its extension: give format='nbl' or 'roaring'",
          given.ptr());
  }
};

std::int32_t block_limit(const py::object& max_blocks) {
  const long long limit = integer_argument(max_blocks);
  if (limit < 0) raise(PyExc_ValueError, "max_blocks must not be negative");
  return static_cast<std::int32_t>(std::min(limit, kHighest));
}

// Reads a set in the format from the stream, with the block limit when there is one; returns false when
// the stream goes on after the set.
bool read_set(std::istream& in, Format format, const py::object& max_blocks, std::int32_t limit,
              tnumbrelle& set) {
  const bool limited = !max_blocks.is_none();
  if (format == Format::nbl) {
    limited ? set.load_from_stream(in, limit) : set.load_from_stream(in);
  } else {
    limited ? intset::load_roaring_from_stream(set, in, limit) : intset::load_roaring_from_stream(set, in);
  }
  const bool ends =
      std::istream::traits_type::eq_int_type(in.rdbuf()->sgetc(), std::istream::traits_type::eof());
  if (ends) normalize(set);
  return ends;
}

[[noreturn]] void raise_data_after_set() {
  PyErr_SetString(FormatError, "the data goes on after the set");
  throw python_error{};
}

py::object from_bytes(py::type cls, const py::object& data, const std::string& format_name,
                      py::object max_blocks) {
  if (cls.ptr() != reinterpret_cast<PyObject*>(IntSetType) &&
      cls.ptr() != reinterpret_cast<PyObject*>(FrozenIntSetType)) {
    raise(PyExc_TypeError, "from_bytes() makes an IntSet or a FrozenIntSet");
  }
  const Format format = format_named(format_name);
  const std::int32_t limit = max_blocks.is_none() ? 0 : block_limit(max_blocks);
  Py_buffer view;
  if (PyObject_GetBuffer(data.ptr(), &view, PyBUF_SIMPLE) != 0) throw python_error{};
  struct Release {
    Py_buffer* view;
    ~Release() { PyBuffer_Release(view); }
  } release{&view};
  tnumbrelle set;
  bool ends = false;
  Readers{view.len / 32}.run([&] {
    MemorySource source{static_cast<const char*>(view.buf), static_cast<std::size_t>(view.len)};
    std::istream in{&source};
    ends = read_set(in, format, max_blocks, limit, set);
  });
  if (!ends) raise_data_after_set();
  return steal(new_set(reinterpret_cast<PyTypeObject*>(cls.ptr()), std::move(set)));
}

py::bytes to_bytes(AnySet self, const std::string& format_name) {
  const Format format = format_named(format_name);
  StringSink sink;
  Readers readers;
  readers.add(self.s);
  readers.run([&] {
    std::ostream out{&sink};
    format == Format::nbl ? self.s->set().save_to_stream(out)
                          : intset::save_roaring_to_stream(self.s->set(), out);
  });
  return py::bytes(sink.bytes);
}

// Runs a file operation without the GIL; its file errors name the file as it was given.
template <class Work>
void with_file(const FileName& file, Readers& readers, Work&& work) {
  try {
    readers.run(work);
  } catch (const intset::Exception&) {
    set_error(std::current_exception(), file.given.ptr());
    throw python_error{};
  }
}

void save(AnySet self, const py::object& path, const std::optional<std::string>& format_name) {
  const FileName file{path};
  const Format format = file.format(format_name);
  Readers readers{gil_release_blocks};  // always without the GIL: this waits for the disk
  readers.add(self.s);
  with_file(file, readers, [&] {
    format == Format::nbl ? self.s->set().save_to_file(file.path)
                          : intset::save_roaring_to_file(self.s->set(), file.path);
  });
}

py::object load(py::type cls, const py::object& path, const std::optional<std::string>& format_name,
                py::object max_blocks) {
  if (cls.ptr() != reinterpret_cast<PyObject*>(IntSetType) &&
      cls.ptr() != reinterpret_cast<PyObject*>(FrozenIntSetType)) {
    raise(PyExc_TypeError, "load() makes an IntSet or a FrozenIntSet");
  }
  const FileName file{path};
  const Format format = file.format(format_name);
  const std::int32_t limit = max_blocks.is_none() ? 0 : block_limit(max_blocks);
  tnumbrelle set;
  bool ends = false;
  Readers readers{gil_release_blocks};
  with_file(file, readers, [&] {
    intset::read_file(file.path,
                      [&](std::istream& in) { ends = read_set(in, format, max_blocks, limit, set); });
  });
  if (!ends) raise_data_after_set();
  return steal(new_set(reinterpret_cast<PyTypeObject*>(cls.ptr()), std::move(set)));
}

// --- repr: every member while that stays short, else the count, the first few and the last ----------------

std::string repr(AnySet self) {
  const std::string name = type_name(self.s);
  const std::span<const intset::tblock> blocks = self.s->set().blocks();
  std::vector<std::int32_t> first;
  for (std::size_t i = 0; i < blocks.size() && first.size() <= 16; ++i) {
    const std::size_t at = first.size();
    first.resize(at + 256);
    first.resize(at + write_members(blocks.subspan(i, 1), first.data() + at));
  }
  if (first.empty()) return name + "()";
  const auto list = [](std::span<const std::int32_t> members) {
    std::string text;
    for (const std::int32_t v : members) text += (text.empty() ? "" : ", ") + std::to_string(v);
    return text;
  };
  const Py_ssize_t n = length_of(self.s);
  if (static_cast<std::size_t>(n) == first.size()) {
    std::string full = name + "([" + list(first) + "])";
    if (full.size() <= 200) return full;
  }
  const std::int32_t last = *self.s->set().highest();
  return name + "(" + std::to_string(n) + " members: [" + list(std::span{first}.first(6)) + ", ..., " +
         std::to_string(last) + "])";
}

// --- Attaching ------------------------------------------------------------------------------------------

py::handle handle_of(PyTypeObject* type) { return reinterpret_cast<PyObject*>(type); }

template <class F, class... Extra>
void method(PyTypeObject* type, const char* name, F&& f, const Extra&... extra) {
  const py::handle t = handle_of(type);
  t.attr(name) = py::cpp_function(std::forward<F>(f), py::name(name), py::is_method(t),
                                  py::sibling(py::none()), extra...);
}

template <class F, class... Extra>
void class_method(PyTypeObject* type, const char* name, F&& f, const Extra&... extra) {
  const py::handle t = handle_of(type);
  const py::cpp_function function(std::forward<F>(f), py::name(name), py::scope(t), py::sibling(py::none()),
                                  extra...);
  t.attr(name) = steal(PyClassMethod_New(function.ptr()));
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

  method(type, "to_numpy", to_numpy, "The members in ascending order as a new numpy int32 array.");
  method(type, "to_array", to_array, "The members in ascending order as a new array.array('i').");
  method(
      type, "__array__",
      [](AnySet self, py::object dtype, py::object) {
        py::object array = to_numpy(self);
        if (!dtype.is_none()) array = array.attr("astype")(dtype, py::arg("copy") = false);
        return array;
      },
      py::arg("dtype") = py::none(), py::arg("copy") = py::none());
  method(type, "to_bytes", to_bytes, py::arg("format") = "nbl", "The set in the format 'nbl' or 'roaring'.");
  method(type, "save", save, py::arg("path"), py::arg("format") = py::none(),
         "Saves the set to the file, replacing it only once the new bytes are on disk.");
  class_method(type, "from_bytes", from_bytes, py::arg("cls"), py::arg("data"), py::arg("format") = "nbl",
               py::kw_only(), py::arg("max_blocks") = py::none(),
               "A set from bytes in the format 'nbl' or 'roaring'.");
  class_method(type, "load", load, py::arg("cls"), py::arg("path"), py::arg("format") = py::none(),
               py::kw_only(), py::arg("max_blocks") = py::none(),
               "A set from a file in the format 'nbl' or 'roaring'.");

  method(type, "__reduce__", [](AnySet self) {
    return py::make_tuple(type_of(self.s).attr("from_bytes"), py::make_tuple(to_bytes(self, "nbl")));
  });
  method(type, "__repr__", repr);
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
