// The batched lookups both types have: contains_many(), rank_many() and select_many(), each answering a whole
// iterable of values or ranks with one numpy array. numpy is imported when one of them is called, not before.
//
// Each reads its argument first (batch_input.h), then makes its numpy array, and only then registers as a
// reader of the set, since making Python objects could run code that changes the set; the set's size is
// looked at only after that.
#include <algorithm>
#include <memory>
#include <string>
#include <utility>

#include "batch_input.h"
#include "method_support.h"
#include "methods.h"

namespace pyintset {

namespace {

static_assert(sizeof(bool) == 1, "numpy's bool arrays are read and written as C++ bool");

// A new 1-dimensional numpy array of `n` elements of `dtype` (a numpy type name), to be filled in place.
class NumpyArray {
 public:
  NumpyArray(const char* dtype, std::size_t n, std::size_t item_size) {
    const Ref numpy{checked(PyImport_ImportModule("numpy"))};
    const Ref empty{checked(PyObject_GetAttrString(numpy.get(), "empty"))};
    array_.reset(checked(PyObject_CallFunction(empty.get(), "ns", static_cast<Py_ssize_t>(n), dtype)));
    if (PyObject_GetBuffer(array_.get(), &view_, PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS) != 0)
      throw python_error{};
    held_ = true;
    if (static_cast<std::size_t>(view_.len) != n * item_size)
      raise(PyExc_SystemError, "numpy.empty(%zu, '%s') has %zd bytes", n, dtype, view_.len);
  }
  NumpyArray(const NumpyArray&) = delete;
  NumpyArray& operator=(const NumpyArray&) = delete;
  ~NumpyArray() {
    if (held_ && !gil_lost) PyBuffer_Release(&view_);
  }

  template <class T>
  T* data() const noexcept {
    return static_cast<T*>(view_.buf);
  }
  // The array, for the caller to return.
  PyObject* release() noexcept {
    PyBuffer_Release(&view_);
    held_ = false;
    return array_.release();
  }

 private:
  Ref array_;
  Py_buffer view_{};
  bool held_ = false;
};

PyObject* set_contains_many(PyObject* self, PyObject* values) {
  return guarded([&] {
    SetObject* s = as_set(self);
    const LookupValues in = read_values(values, Lookup::membership);
    NumpyArray out{"bool", in.count, sizeof(bool)};
    bool* answers = out.data<bool>();
    Readers readers{static_cast<std::int64_t>(in.count / 32)};
    readers.add(s);
    readers.run([&] {
      if (in.all_fixed) {
        std::fill_n(answers, in.count, false);
        return;
      }
      s->set().contains_many(in.values, {answers, in.count});
      for (const std::size_t i : in.fixed) answers[i] = false;
    });
    return out.release();
  });
}

PyObject* set_rank_many(PyObject* self, PyObject* values) {
  return guarded([&] {
    SetObject* s = as_set(self);
    const LookupValues in = read_values(values, Lookup::rank);
    NumpyArray out{"int64", in.count, sizeof(std::int64_t)};
    std::int64_t* ranks = out.data<std::int64_t>();
    Readers readers{static_cast<std::int64_t>(in.count / 32)};
    readers.add(s);
    readers.run([&] {
      s->set().rank_many(in.values, {ranks, in.count});
      for (const std::size_t i : in.fixed) ranks[i] = 0;
    });
    return out.release();
  });
}

// --- select_many ----------------------------------------------------------------------------------------

// A batch of at least 1/kDecodeRatio as many ranks as the set has members is answered from the members
// decoded once, by position: the library's select_many() searches the blocks' running counts for each rank
// out of order, which costs far more per rank than decoding the set costs per member.
constexpr std::int64_t kDecodeRatio = 16;

// Where select() stopped: the first rank outside [0, members), as given.
struct BadRank {
  Py_ssize_t at = -1;
  std::string rank;
};

// out[i] := the member of rank ranks[i], reading each rank once; stops at the first rank out of range.
template <class T>
BadRank select(const intset::tnumbrelle& set, const IntegerBuffer& ranks, std::int32_t* out) {
  const std::int64_t members = set.size();
  const auto n = static_cast<std::size_t>(ranks.size);
  BadRank bad;
  const auto valid = [&](Py_ssize_t i, T rank) {
    if (std::cmp_greater_equal(rank, 0) && std::cmp_less(rank, members)) return true;
    bad.at = i;
    bad.rank = std::to_string(rank);
    return false;
  };
  if (members <= kDecodeRatio * ranks.size) {
    const std::unique_ptr<std::int32_t[]> in_order{new std::int32_t[static_cast<std::size_t>(members)]};
    write_members(set.blocks(), in_order.get());
    for_each_element<T>(ranks, [&](Py_ssize_t i, T rank) {
      if (!valid(i, rank)) return false;
      out[i] = in_order[static_cast<std::size_t>(rank)];
      return true;
    });
    return bad;
  }
  std::vector<std::int64_t> copy(n);
  for_each_element<T>(ranks, [&](Py_ssize_t i, T rank) {
    if (!valid(i, rank)) return false;
    copy[static_cast<std::size_t>(i)] = static_cast<std::int64_t>(rank);
    return true;
  });
  if (bad.at < 0) set.select_many(copy, {out, n});
  return bad;
}

PyObject* set_select_many(PyObject* self, PyObject* ranks_given) {
  return guarded([&] {
    SetObject* s = as_set(self);
    const Ranks ranks{ranks_given};
    const IntegerBuffer& in = ranks.elements();
    NumpyArray out{"int32", static_cast<std::size_t>(in.size), sizeof(std::int32_t)};
    BadRank bad;
    std::int64_t members = 0;
    Readers readers{in.size / 32};
    readers.add(s);
    readers.run([&] {
      members = s->set().size();
      bad = with_element_type(
          in, [&](auto type) { return select<decltype(type)>(s->set(), in, out.data<std::int32_t>()); });
    });
    if (bad.at >= 0) {
      raise(PyExc_IndexError,
            "select_many: rank %s at position %zd is out of range for a set of %lld member%s",
            ranks.text_at(bad.at, bad.rank).c_str(), bad.at, static_cast<long long>(members),
            members == 1 ? "" : "s");
    }
    return out.release();
  });
}

}  // namespace

PyMethodDef batch_methods[] = {
    {"contains_many", set_contains_many, METH_O,
     NUMBRELLE_DOC(
         "contains_many($self, values, /)",
         "Whether each value is a member, as a numpy bool array: `v in self` for each v of values.")},
    {"rank_many", set_rank_many, METH_O,
     NUMBRELLE_DOC("rank_many($self, values, /)",
                   "The number of members up to each value, as a numpy int64 array: rank(v) for each v.")},
    {"select_many", set_select_many, METH_O,
     NUMBRELLE_DOC("select_many($self, ranks, /)",
                   "The member with k members below it for each k of ranks, as a numpy int32 array;\n"
                   "IndexError unless every k lies in [0, len(self)).")},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace pyintset
