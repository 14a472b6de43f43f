// The sets as other things and back: numpy arrays and array.array out, the set's own and the Roaring bytes
// and files, pickling and repr.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <istream>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "intset/files.h"
#include "intset/roaring_format.h"
#include "method_support.h"
#include "methods.h"
#include "streams.h"

namespace pyintset {

namespace {

using intset::tnumbrelle;

// --- Members out ----------------------------------------------------------------------------------------

// Makes an output object of the set's length with `make`, then fills its buffer (4-byte integers) without
// the GIL. The object is made before registering as a reader; should making it have changed the set, it is
// made again.
template <class Make>
PyObject* filled(SetObject* s, Make make) {
  for (;;) {
    const Py_ssize_t n = py_length(s);
    const std::uint64_t version = s->version;
    Ref out{make(n)};
    if (s->version != version) continue;
    Py_buffer view;
    if (PyObject_GetBuffer(out.get(), &view, PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS) != 0) throw python_error{};
    struct Release {
      Py_buffer* view;
      ~Release() {
        if (!gil_lost) PyBuffer_Release(view);
      }
    } release{&view};
    if (view.len != static_cast<Py_ssize_t>(n * sizeof(std::int32_t)))
      raise(PyExc_SystemError, "the output buffer has %zd bytes, not %zd", view.len, n * 4);
    Readers readers;
    readers.add(s);
    readers.run([&] { write_members(s->set().blocks(), static_cast<std::int32_t*>(view.buf)); });
    return out.release();
  }
}

PyObject* set_to_numpy(PyObject* self, PyObject*) {
  return guarded([&] {
    const Ref numpy{checked(PyImport_ImportModule("numpy"))};
    const Ref empty{checked(PyObject_GetAttrString(numpy.get(), "empty"))};
    const Ref int32{checked(PyObject_GetAttrString(numpy.get(), "int32"))};
    return filled(as_set(self), [&](Py_ssize_t n) {
      return checked(PyObject_CallFunction(empty.get(), "nO", n, int32.get()));
    });
  });
}

PyObject* set_to_array(PyObject* self, PyObject*) {
  return guarded([&] {
    const Ref module{checked(PyImport_ImportModule("array"))};
    const Ref array{checked(PyObject_GetAttrString(module.get(), "array"))};
    return filled(as_set(self), [&](Py_ssize_t n) {
      const Ref one{checked(PyObject_CallFunction(array.get(), "s(i)", "i", 0))};
      Ref out{checked(PySequence_Repeat(one.get(), n))};
      const Ref item_size{checked(PyObject_GetAttrString(out.get(), "itemsize"))};
      if (PyLong_AsLong(item_size.get()) != 4)
        raise(PyExc_SystemError, "array('i') does not hold 32-bit items");
      return out.release();
    });
  });
}

PyObject* set_array(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* names[] = {"dtype", "copy", nullptr};
  PyObject *dtype = Py_None, *copy = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|OO:__array__", const_cast<char**>(names), &dtype, &copy))
    return nullptr;
  return guarded([&] {
    Ref array{checked(set_to_numpy(self, nullptr))};
    if (dtype == Py_None) return array.release();
    const Ref astype{checked(PyObject_GetAttrString(array.get(), "astype"))};
    const Ref positional{checked(PyTuple_Pack(1, dtype))};
    const Ref keywords{checked(Py_BuildValue("{s:O}", "copy", Py_False))};
    return checked(PyObject_Call(astype.get(), positional.get(), keywords.get()));
  });
}

// --- Bytes and files ------------------------------------------------------------------------------------

enum class Format { nbl, roaring };

Format format_named(const char* name) {
  if (std::strcmp(name, "nbl") == 0) return Format::nbl;
  if (std::strcmp(name, "roaring") == 0) return Format::roaring;
  raise(PyExc_ValueError, "unknown format '%s': the formats are 'nbl' and 'roaring'", name);
}

// A format argument: a str, or None to be told by the file's extension.
const char* format_argument(PyObject* format) {
  if (format == nullptr || format == Py_None) return nullptr;
  if (!PyUnicode_Check(format))
    raise(PyExc_TypeError, "format must be 'nbl', 'roaring' or None, not '%.200s'", Py_TYPE(format)->tp_name);
  const char* name = PyUnicode_AsUTF8(format);
  if (name == nullptr) throw python_error{};
  return name;
}

// A path argument (str, bytes or os.PathLike), as os.fspath() gives it (for errors' filename) and as the
// name the system uses.
struct FileName {
  Ref given;
  std::filesystem::path path;

  explicit FileName(PyObject* object) : given(checked(PyOS_FSPath(object))) {
    const Ref bytes{PyBytes_Check(given.get()) ? Py_NewRef(given.get())
                                               : checked(PyUnicode_EncodeFSDefault(given.get()))};
    const std::string_view name{PyBytes_AS_STRING(bytes.get()),
                                static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get()))};
    if (name.find('\0') != std::string_view::npos) raise(PyExc_ValueError, "embedded null byte");
    path = std::filesystem::path(std::string(name));
  }

  Format format(const char* format) const {
    if (format != nullptr) return format_named(format);
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".nbl") return Format::nbl;
    if (extension == ".roaring") return Format::roaring;
    raise(PyExc_ValueError, "cannot tell the format of %R from its extension: give format='nbl' or 'roaring'",
          given.get());
  }
};

// The max_blocks argument: None (no limit) or an int from 0.
struct BlockLimit {
  bool limited = false;
  std::int32_t limit = 0;
  explicit BlockLimit(PyObject* max_blocks) {
    if (max_blocks == nullptr || max_blocks == Py_None) return;
    const long long n = integer_argument(max_blocks);
    if (n < 0) raise(PyExc_ValueError, "max_blocks must not be negative");
    limited = true;
    limit = static_cast<std::int32_t>(std::min(n, kHighest));
  }
};

// Reads a set in the format from the stream, within the block limit; returns false when the stream goes on
// after the set.
bool read_set(std::istream& in, Format format, const BlockLimit& blocks, tnumbrelle& set) {
  if (format == Format::nbl) {
    blocks.limited ? set.load_from_stream(in, blocks.limit) : set.load_from_stream(in);
  } else {
    blocks.limited ? intset::load_roaring_from_stream(set, in, blocks.limit)
                   : intset::load_roaring_from_stream(set, in);
  }
  const bool ends =
      std::istream::traits_type::eq_int_type(in.rdbuf()->sgetc(), std::istream::traits_type::eof());
  if (ends) normalize(set);
  return ends;
}

[[noreturn]] void raise_data_after_set(PyObject* file_name) {
  set_format_error("the data goes on after the set", file_name);
  throw python_error{};
}

// A set of the class `cls` (IntSet, FrozenIntSet or a subclass of one) holding `set`: a subclass is called
// with the set of its base type, as int.from_bytes() calls a subclass of int.
PyObject* set_of_class(PyObject* cls, tnumbrelle&& set) {
  PyTypeObject* type = reinterpret_cast<PyTypeObject*>(cls);
  if (type == IntSetType || type == FrozenIntSetType) return new_set(type, std::move(set));
  const bool frozen = PyType_IsSubtype(type, FrozenIntSetType) != 0;
  if (!frozen && PyType_IsSubtype(type, IntSetType) == 0)
    raise(PyExc_TypeError, "%.200s is not a subclass of IntSet or FrozenIntSet", type->tp_name);
  const Ref base{new_set(frozen ? FrozenIntSetType : IntSetType, std::move(set))};
  return checked(PyObject_CallOneArg(cls, base.get()));
}

PyObject* set_from_bytes(PyObject* cls, PyObject* args, PyObject* kwargs) {
  static const char* names[] = {"data", "format", "max_blocks", nullptr};
  PyObject* data;
  const char* format_name = "nbl";
  PyObject* max_blocks = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|s$O:from_bytes", const_cast<char**>(names), &data,
                                   &format_name, &max_blocks))
    return nullptr;
  return guarded([&] {
    const Format format = format_named(format_name);
    const BlockLimit blocks{max_blocks};
    Py_buffer view;
    if (PyObject_GetBuffer(data, &view, PyBUF_SIMPLE) != 0) throw python_error{};
    struct Release {
      Py_buffer* view;
      ~Release() {
        if (!gil_lost) PyBuffer_Release(view);
      }
    } release{&view};
    // Bytes that other code can change (a bytearray, a numpy array) are copied before the reader, which
    // runs without the GIL, looks at them.
    std::string copy;
    const char* bytes = static_cast<const char*>(view.buf);
    if (!PyBytes_CheckExact(data)) bytes = copy.assign(bytes, static_cast<std::size_t>(view.len)).data();
    tnumbrelle set;
    bool ends = false;
    Readers{view.len / 32}.run([&] {
      MemorySource source{bytes, static_cast<std::size_t>(view.len)};
      std::istream in{&source};
      ends = read_set(in, format, blocks, set);
    });
    if (!ends) raise_data_after_set(nullptr);
    return set_of_class(cls, std::move(set));
  });
}

PyObject* set_to_bytes(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* names[] = {"format", nullptr};
  const char* format_name = "nbl";
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|s:to_bytes", const_cast<char**>(names), &format_name))
    return nullptr;
  return guarded([&] {
    const Format format = format_named(format_name);
    SetObject* s = as_set(self);
    StringSink sink;
    Readers readers;
    readers.add(s);
    readers.run([&] {
      std::ostream out{&sink};
      format == Format::nbl ? s->set().save_to_stream(out) : intset::save_roaring_to_stream(s->set(), out);
    });
    return PyBytes_FromStringAndSize(sink.bytes.data(), static_cast<Py_ssize_t>(sink.bytes.size()));
  });
}

// Runs a file operation without the GIL; its errors name the file.
template <class Work>
void with_file(const FileName& file, Readers& readers, Work&& work) {
  try {
    readers.run(work);
  } catch (const intset::Exception&) {
    set_error(std::current_exception(), file.given.get());
    throw python_error{};
  }
}

PyObject* set_save(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* names[] = {"path", "format", nullptr};
  PyObject *path, *format = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|O:save", const_cast<char**>(names), &path, &format))
    return nullptr;
  return guarded([&] {
    SetObject* s = as_set(self);
    const FileName file{path};
    const Format chosen = file.format(format_argument(format));
    Readers readers{gil_release_blocks};  // always without the GIL: this waits for the disk
    readers.add(s);
    with_file(file, readers, [&] {
      chosen == Format::nbl ? s->set().save_to_file(file.path)
                            : intset::save_roaring_to_file(s->set(), file.path);
    });
    Py_RETURN_NONE;
  });
}

PyObject* set_load(PyObject* cls, PyObject* args, PyObject* kwargs) {
  static const char* names[] = {"path", "format", "max_blocks", nullptr};
  PyObject *path, *format = Py_None, *max_blocks = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|O$O:load", const_cast<char**>(names), &path, &format,
                                   &max_blocks))
    return nullptr;
  return guarded([&] {
    const FileName file{path};
    const Format chosen = file.format(format_argument(format));
    const BlockLimit blocks{max_blocks};
    tnumbrelle set;
    bool ends = false;
    Readers readers{gil_release_blocks};
    with_file(file, readers, [&] {
      intset::read_file(file.path, [&](std::istream& in) { ends = read_set(in, chosen, blocks, set); });
    });
    if (!ends) raise_data_after_set(file.given.get());
    return set_of_class(cls, std::move(set));
  });
}

// --- Pickling: the class's from_bytes() of the "nbl" bytes, and a subclass's __dict__ --------------------

PyObject* set_reduce(PyObject* self, PyObject*) {
  return guarded([&] {
    const Ref from_bytes{
        checked(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(self)), "from_bytes"))};
    const Ref no_arguments{checked(PyTuple_New(0))};
    const Ref bytes{checked(set_to_bytes(self, no_arguments.get(), nullptr))};
    Ref state;
    if (Py_TYPE(self)->tp_dictoffset != 0) {
      state.reset(checked(PyObject_GenericGetDict(self, nullptr)));
      if (PyDict_GET_SIZE(state.get()) == 0) state.reset(nullptr);
    }
    if (state) return checked(Py_BuildValue("O(O)O", from_bytes.get(), bytes.get(), state.get()));
    return checked(Py_BuildValue("O(O)", from_bytes.get(), bytes.get()));
  });
}

}  // namespace

// --- repr -------------------------------------------------------------------------------------------------

PyObject* set_repr(PyObject* self) {
  return guarded([&] {
    SetObject* s = as_set(self);
    const std::string name = type_name(s);
    const std::span<const intset::tblock> blocks = s->set().blocks();
    std::vector<std::int32_t> first;
    for (std::size_t i = 0; i < blocks.size() && first.size() <= 16; ++i) {
      const std::size_t at = first.size();
      first.resize(at + 256);
      first.resize(at + write_members(blocks.subspan(i, 1), first.data() + at));
    }
    const auto list = [](std::span<const std::int32_t> members) {
      std::string text;
      for (const std::int32_t v : members) text += (text.empty() ? "" : ", ") + std::to_string(v);
      return text;
    };
    std::string text = name + "()";
    const std::int64_t n = s->set().size();
    if (!first.empty()) {
      text = name + "([" + list(first) + "])";
      if (static_cast<std::size_t>(n) != first.size() || text.size() > 200) {
        text = name + "(" + std::to_string(n) + " members: [" + list(std::span{first}.first(6)) + ", ..., " +
               std::to_string(*s->set().highest()) + "])";
      }
    }
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
  });
}

template <class F>
PyCFunction keywords(F f) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

PyMethodDef conversion_methods[] = {
    {"to_numpy", set_to_numpy, METH_NOARGS,
     NUMBRELLE_DOC("to_numpy($self, /)", "The members in ascending order as a new numpy int32 array.")},
    {"to_array", set_to_array, METH_NOARGS,
     NUMBRELLE_DOC("to_array($self, /)", "The members in ascending order as a new array.array('i').")},
    {"__array__", keywords(set_array), METH_VARARGS | METH_KEYWORDS,
     NUMBRELLE_DOC("__array__($self, /, dtype=None, copy=None)",
                   "numpy.asarray(self): to_numpy(), as dtype.")},
    {"to_bytes", keywords(set_to_bytes), METH_VARARGS | METH_KEYWORDS,
     NUMBRELLE_DOC("to_bytes($self, /, format='nbl')", "The set as bytes in the format 'nbl' or 'roaring'.")},
    {"save", keywords(set_save), METH_VARARGS | METH_KEYWORDS,
     NUMBRELLE_DOC(
         "save($self, /, path, format=None)",
         "Save the set to the file, in the format given or named by its extension (.nbl, .roaring).\n"
         "An existing file is replaced only once the new bytes are on disk.")},
    {"from_bytes", keywords(set_from_bytes), METH_VARARGS | METH_KEYWORDS | METH_CLASS,
     NUMBRELLE_DOC("from_bytes($type, /, data, format='nbl', *, max_blocks=None)",
                   "A set from bytes in the format 'nbl' or 'roaring' (FormatError when damaged); with\n"
                   "max_blocks, ValueError for data that would make more blocks.")},
    {"load", keywords(set_load), METH_VARARGS | METH_KEYWORDS | METH_CLASS,
     NUMBRELLE_DOC("load($type, /, path, format=None, *, max_blocks=None)",
                   "A set from a file, read as from_bytes() reads bytes; the format as save() takes it.")},
    {"__reduce__", set_reduce, METH_NOARGS, NUMBRELLE_DOC("__reduce__($self, /)", "Pickling support.")},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace pyintset
