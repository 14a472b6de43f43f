// The Python objects IntSet and FrozenIntSet: a tnumbrelle inside a Python object, and the rule by which
// threads share one.
//
// Threads. A set's members change only while the changing thread holds the GIL, and only after every
// operation that reads the set without the GIL has finished: each object counts such readers. A reader
// increments the count while it holds the GIL, releases the GIL, reads, takes the GIL back and decrements the
// count. A change first calls wait_for_readers(), which (holding the GIL) looks at the count and, while it is
// not zero, releases the GIL, waits for it to reach zero, takes the GIL back and looks again; then it changes
// the set without releasing the GIL in between, so no new reader can start. While a change waits, new
// readers of the set keep the GIL, so that a stream of readers cannot hold the change off for ever.
// Nothing waits for the GIL while
// registered as a reader of a set it is about to change, and nothing waits for readers while holding the GIL.
// Between registering and unregistering, a reader runs no Python code: it allocates no Python object (which
// could run a finalizer that changes the set, and so wait for itself).
#ifndef NUMBRELLE_PYTHON_SET_OBJECT_H_
#define NUMBRELLE_PYTHON_SET_OBJECT_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>
#include <exception>
#include <new>
#include <span>
#include <utility>
#include <vector>

#include "intset/tnumbrelle.h"

namespace pyintset {

struct SetObject {
  PyObject_HEAD
      // The set, constructed in place by tp_new (kept as raw storage so that the object stays standard
      // layout).
      alignas(intset::tnumbrelle) unsigned char storage[sizeof(intset::tnumbrelle)];
  std::uint64_t version;     // bumped by every change; iterators compare it at each step
  Py_hash_t hash;            // FrozenIntSet: -1 until first asked for
  std::atomic<int> readers;  // operations reading the set with the GIL released
  int waiting_changes;       // changes waiting for those readers (read and written under the GIL)
  PyObject* weakrefs;

  intset::tnumbrelle& set() noexcept { return *std::launder(reinterpret_cast<intset::tnumbrelle*>(storage)); }
};

extern PyTypeObject* IntSetType;
extern PyTypeObject* FrozenIntSetType;

// The package's sets and the types derived from them.
inline bool is_frozen(PyObject* o) noexcept { return PyObject_TypeCheck(o, FrozenIntSetType); }
inline bool is_mutable(PyObject* o) noexcept { return PyObject_TypeCheck(o, IntSetType); }
inline bool is_set(PyObject* o) noexcept { return is_mutable(o) || is_frozen(o); }
inline SetObject* as_set(PyObject* o) noexcept { return reinterpret_cast<SetObject*>(o); }
inline PyObject* as_object(SetObject* s) noexcept { return reinterpret_cast<PyObject*>(s); }
// IntSet or FrozenIntSet, whichever `o` is or derives from: the type of the sets its operations make, as
// set and frozenset make theirs for their subclasses.
inline PyTypeObject* base_type(PyObject* o) noexcept { return is_frozen(o) ? FrozenIntSetType : IntSetType; }
// "IntSet" or "FrozenIntSet", for messages.
inline const char* type_name(const void* s) noexcept {
  return is_frozen(static_cast<PyObject*>(const_cast<void*>(s))) ? "FrozenIntSet" : "IntSet";
}

// Raised by this module's C++ code when the Python error indicator is already set. Like every exception the
// module raises or lets through, a std::exception: the handlers that set Python errors catch those alone.
struct python_error : std::exception {
  const char* what() const noexcept override { return "Python error"; }
};

// Sets the Python error indicator and throws python_error.
[[noreturn]] void raise(PyObject* type, const char* format, ...);
// Throws python_error when the error indicator is set.
void throw_if_error();

// A new object of `type` (IntSet or FrozenIntSet) holding `set`, which is moved in. Throws python_error.
PyObject* new_set(PyTypeObject* type, intset::tnumbrelle&& set);

// --- The rule for threads (see above) -----------------------------------------------------------------

// PyEval_RestoreThread(state), for a thread that released the GIL. While the interpreter shuts down, a
// thread other than the main one that takes the GIL back is ended there by a forced unwind (glibc's
// pthread_exit): it runs the destructors of the frames it leaves, without the GIL. So the GIL is never taken
// back in a destructor (they are noexcept, and the unwind would end the process), no handler that sets a
// Python error catches more than std::exception (the unwind is none), and destructors that touch Python
// objects skip that while gil_lost is set.
extern thread_local bool gil_lost;
inline void take_gil_back(PyThreadState* state) {
  gil_lost = true;
  PyEval_RestoreThread(state);
  gil_lost = false;
}

// A reference to a Python object, released at the end of its scope.
class Ref {
 public:
  explicit Ref(PyObject* object = nullptr) noexcept : object_(object) {}
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() {
    if (!gil_lost) Py_XDECREF(object_);
  }
  PyObject* get() const noexcept { return object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }
  // Gives the reference to the caller.
  PyObject* release() noexcept { return std::exchange(object_, nullptr); }
  void reset(PyObject* object) noexcept {
    Py_XDECREF(object_);
    object_ = object;
  }

 private:
  PyObject* object_;
};

// Call holding the GIL before changing a set; then change it without releasing the GIL, and call changed().
void wait_for_readers(SetObject* s);
// Records a change: iterators over the set stop.
inline void changed(SetObject* s) noexcept { ++s->version; }

// The size above which an operation releases the GIL, in blocks of the sets it reads (buffers and bytes
// count 32 elements or bytes as one block). Changed only by tests, to run every operation without the GIL.
extern std::int64_t gil_release_blocks;

// Registers as a reader of the given sets and releases the GIL for `work` when the sets (plus
// `extra_blocks`) are big enough; otherwise runs `work` holding the GIL. `work` must touch no Python
// object. The GIL is held again and the readers are unregistered when this returns or throws.
class Readers {
 public:
  explicit Readers(std::int64_t extra_blocks = 0) : blocks_(extra_blocks) {}
  Readers(const Readers&) = delete;
  Readers& operator=(const Readers&) = delete;
  void add(SetObject* s) {
    sets_.push_back(s);
    blocks_ += static_cast<std::int64_t>(s->set().blocks().size());
  }
  // Whether run() releases the GIL: for big sets, unless a change waits for one of them.
  bool heavy() const noexcept {
    if (blocks_ < gil_release_blocks) return false;
    for (const SetObject* s : sets_)
      if (s->waiting_changes != 0) return false;
    return true;
  }

  template <class Work>
  void run(Work&& work) {
    if (!heavy()) {
      work();
      return;
    }
    for (SetObject* s : sets_) s->readers.fetch_add(1, std::memory_order_relaxed);
    Registration registration{sets_};
    PyThreadState* state = PyEval_SaveThread();
    // Taken back in the ordinary flow, not by a destructor: see take_gil_back().
    try {
      work();
    } catch (...) {
      take_gil_back(state);
      throw;
    }
    take_gil_back(state);
  }

 private:
  struct Registration {
    std::span<SetObject* const> sets;
    ~Registration() {
      for (SetObject* s : sets)
        if (s->readers.fetch_sub(1, std::memory_order_release) == 1) s->readers.notify_all();
    }
  };
  std::vector<SetObject*> sets_;
  std::int64_t blocks_;
};

// --- Reading members ------------------------------------------------------------------------------------

// len(s): the member count, which the set keeps (up to 2^32), as a Py_ssize_t. Throws OverflowError where
// Py_ssize_t is too narrow for it (32 bits, 2^31 members or more), as len() does for any container.
inline Py_ssize_t py_length(SetObject* s) {
  const std::int64_t n = s->set().size();
  if (!std::in_range<Py_ssize_t>(n))
    raise(PyExc_OverflowError, "%s of %lld members: its length does not fit an index-sized integer",
          type_name(s), static_cast<long long>(n));
  return static_cast<Py_ssize_t>(n);
}

// Word w (0..3) of a block's map: bit b is member key * 256 + 64w + b, on every host.
inline std::uint64_t map_word(const intset::tblock& block, unsigned w) noexcept {
  std::uint64_t word = 0;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&word, block.bits + 8 * w, sizeof word);
  } else {
    for (unsigned i = 8; i-- > 0;) word = word << 8 | block.bits[8 * w + i];
  }
  return word;
}
// The value of bit 0 of a block.
inline std::int32_t block_base(const intset::tblock& block) noexcept {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(block.key) << 8);
}
// Writes the members of the blocks, ascending within each block, to `out`; returns the number written. It
// writes nothing past them.
std::size_t write_members(std::span<const intset::tblock> blocks, std::int32_t* out) noexcept;

// The set of `values` (in any order, repeats allowed), with the members include_array() would give.
intset::tnumbrelle set_of_values(std::span<const std::int32_t> values);

// A set loaded from bytes may keep blocks with empty maps, and one from a legacy file keys that do not
// rise; this makes it an ordinary set of the same members, so that equality, order and saving hold.
void normalize(intset::tnumbrelle& set);

}  // namespace pyintset

#endif  // NUMBRELLE_PYTHON_SET_OBJECT_H_
