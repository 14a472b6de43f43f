// The sets as other things and back: numpy arrays and array.array out, the set's own and the Roaring bytes
// and files, pickling and repr.
#include <pybind11/stl.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <istream>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "errors.h"
#include "intset/files.h"
#include "intset/roaring_format.h"
#include "method_support.h"
#include "streams.h"

namespace pyintset {

namespace {

using intset::tnumbrelle;

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

}  // namespace

void add_conversion_methods(PyTypeObject* type) {
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
}

}  // namespace pyintset
