// The set object's helpers: creation, the readers count, listing members, normalizing a loaded set.
#include "set_object.h"

#include <algorithm>
#include <cstdarg>
#include <utility>

namespace pyintset {

PyTypeObject* IntSetType = nullptr;
PyTypeObject* FrozenIntSetType = nullptr;
std::int64_t gil_release_blocks = 2048;
thread_local bool gil_lost = false;

void raise(PyObject* type, const char* format, ...) {
  va_list args;
  va_start(args, format);
  PyErr_FormatV(type, format, args);
  va_end(args);
  throw python_error{};
}

void throw_if_error() {
  if (PyErr_Occurred()) throw python_error{};
}

PyObject* new_set(PyTypeObject* type, intset::tnumbrelle&& set) {
  PyObject* object = type->tp_alloc(type, 0);
  if (object == nullptr) throw python_error{};
  SetObject* s = as_set(object);
  new (s->storage) intset::tnumbrelle(std::move(set));
  s->version = 0;
  s->hash = -1;
  new (&s->readers) std::atomic<int>(0);
  s->waiting_changes = 0;
  s->weakrefs = nullptr;
  return object;
}

void wait_for_readers(SetObject* s) {
  if (s->readers.load(std::memory_order_acquire) == 0) return;
  ++s->waiting_changes;
  do {
    PyThreadState* state = PyEval_SaveThread();
    for (int n; (n = s->readers.load(std::memory_order_acquire)) != 0;) s->readers.wait(n);
    take_gil_back(state);
  } while (s->readers.load(std::memory_order_acquire) != 0);
  --s->waiting_changes;
}

namespace {

bool map_empty(const intset::tblock& block) {
  return std::all_of(std::begin(block.bits), std::end(block.bits), [](std::uint8_t b) { return b == 0; });
}

// The members of the blocks, exactly, one at a time.
std::int32_t* write_each(std::span<const intset::tblock> blocks, std::int32_t* out) noexcept {
  for (const intset::tblock& block : blocks) {
    const std::int32_t base = block_base(block);
    for (unsigned w = 0; w < 4; ++w) {
      for (std::uint64_t word = map_word(block, w); word != 0; word &= word - 1) {
        *out++ = static_cast<std::int32_t>(base + static_cast<std::int32_t>(64 * w) + std::countr_zero(word));
      }
    }
  }
  return out;
}

}  // namespace

// A word's members are written eight slots at a time, without a branch per member: where the word has
// fewer than eight left, the remaining steps write the next free slot, which the next member overwrites. (A
// loop that stops after each word's last member is mispredicted at nearly every word of a sparse set, which
// took most of the time.) The next free slot lies past the end only after the last member, so the last block
// with members is written one member at a time.
std::size_t write_members(std::span<const intset::tblock> blocks, std::int32_t* out) noexcept {
  std::size_t last = blocks.size();
  while (last > 0 && map_empty(blocks[last - 1])) --last;
  if (last == 0) return 0;
  std::int32_t* at = out;
  for (const intset::tblock& block : blocks.first(last - 1)) {
    const std::int32_t base = block_base(block);
    for (unsigned w = 0; w < 4; ++w) {
      const auto word_base = static_cast<std::int32_t>(base + static_cast<std::int32_t>(64 * w));
      std::uint64_t word = map_word(block, w);
      for (int i = 0; i < 8; ++i) {
        // Bit 63 keeps the count defined, with no branch, for a word without members left.
        *at = word_base + std::countr_zero(word | std::uint64_t{1} << 63);
        at += word != 0;
        word &= word - 1;
      }
      for (; word != 0; word &= word - 1) *at++ = word_base + std::countr_zero(word);
    }
  }
  at = write_each(blocks.subspan(last - 1), at);
  return static_cast<std::size_t>(at - out);
}

intset::tnumbrelle set_of_values(std::span<const std::int32_t> values) {
  intset::tnumbrelle set;
  set.include_array(values);
  return set;
}

// A set with blocks out of key order or with empty maps (which a damaged or hand-made file can bring) is
// built anew from its members, which gives it rising keys and no empty blocks.
void normalize(intset::tnumbrelle& set) {
  const std::span<const intset::tblock> blocks = set.blocks();
  bool ordinary = true;
  for (std::size_t i = 0; i < blocks.size() && ordinary; ++i)
    ordinary = !map_empty(blocks[i]) && (i == 0 || blocks[i - 1].key < blocks[i].key);
  if (ordinary) return;
  const intset::tarrayofinteger members = set.to_array();
  intset::tnumbrelle rebuilt;
  rebuilt.include_array(members);
  set = std::move(rebuilt);
}

}  // namespace pyintset
