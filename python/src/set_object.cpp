// The set object's helpers: creation, the readers count, counting and listing members, normalizing a loaded
// set.
#include "set_object.h"

#include <algorithm>
#include <cstdarg>
#include <istream>
#include <utility>

#include "streams.h"

namespace pyintset {

PyTypeObject* IntSetType = nullptr;
PyTypeObject* FrozenIntSetType = nullptr;
std::int64_t gil_release_blocks = 2048;

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
  s->length = -1;
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
    Py_BEGIN_ALLOW_THREADS;
    for (int n; (n = s->readers.load(std::memory_order_acquire)) != 0;) s->readers.wait(n);
    Py_END_ALLOW_THREADS;
  } while (s->readers.load(std::memory_order_acquire) != 0);
  --s->waiting_changes;
}

std::int64_t member_count(const intset::tnumbrelle& set) {
  try {
    return set.count();
  } catch (const intset::ETooManyMembers&) {
    std::int64_t n = 0;
    for (const intset::tblock& block : set.blocks())
      for (unsigned w = 0; w < 4; ++w) n += std::popcount(map_word(block, w));
    return n;
  }
}

Py_ssize_t length_of(SetObject* s) {
  if (s->length < 0) s->length = static_cast<Py_ssize_t>(member_count(s->set()));
  return s->length;
}

std::size_t write_members(std::span<const intset::tblock> blocks, std::int32_t* out) noexcept {
  std::int32_t* const start = out;
  for (const intset::tblock& block : blocks) {
    const std::int32_t base = block_base(block);
    for (unsigned w = 0; w < 4; ++w) {
      for (std::uint64_t word = map_word(block, w); word != 0; word &= word - 1) {
        *out++ = static_cast<std::int32_t>(base + static_cast<std::int32_t>(64 * w) + std::countr_zero(word));
      }
    }
  }
  return static_cast<std::size_t>(out - start);
}

namespace {

bool map_empty(const intset::tblock& block) {
  return std::all_of(std::begin(block.bits), std::end(block.bits), [](std::uint8_t b) { return b == 0; });
}

// A 32-bit number as the legacy form stores it, little-endian.
void store_le32(char* at, std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  for (int i = 0; i < 4; ++i) at[i] = static_cast<char>(u >> (8 * i) & 0xFF);
}

}  // namespace

// Many values over few blocks (no more blocks in their span than values) are marked in an image of the
// legacy form that has a record for every key of the span, one pass over the values in whatever order they
// come; the records with empty maps are then squeezed out and the image is read as a set. include_array()
// would sort the values by key first, which takes a few times as long.
intset::tnumbrelle set_of_values(std::span<const std::int32_t> values) {
  intset::tnumbrelle set;
  if (values.size() < 4096) {
    set.include_array(values);
    return set;
  }
  std::int32_t lowest = values[0], highest = values[0];
  for (const std::int32_t v : values) {
    lowest = std::min(lowest, v);
    highest = std::max(highest, v);
  }
  const std::int32_t first_key = lowest >> 8;
  const std::size_t keys = static_cast<std::size_t>((highest >> 8) - first_key) + 1;
  if (keys > values.size()) {
    set.include_array(values);
    return set;
  }
  constexpr std::size_t kRecord = sizeof(intset::tblock);  // key and map, 36 bytes
  std::string image(4 + kRecord * keys, '\0');
  char* const records = image.data() + 4;
  for (std::size_t k = 0; k < keys; ++k)
    store_le32(records + kRecord * k, first_key + static_cast<std::int32_t>(k));
  const std::uint32_t first_value = static_cast<std::uint32_t>(first_key) << 8;
  auto* const maps = reinterpret_cast<std::uint8_t*>(records + 4);
  for (const std::int32_t v : values) {
    const std::uint32_t at = static_cast<std::uint32_t>(v) - first_value;
    maps[kRecord * (at >> 8) + (at & 255) / 8] |= static_cast<std::uint8_t>(1u << (at & 7));
  }
  std::size_t kept = 0;
  for (std::size_t k = 0; k < keys; ++k) {
    const char* record = records + kRecord * k;
    std::uint64_t words[4];
    std::memcpy(words, record + 4, sizeof words);
    if ((words[0] | words[1] | words[2] | words[3]) == 0) continue;
    if (kept != k) std::memcpy(records + kRecord * kept, record, kRecord);
    ++kept;
  }
  store_le32(image.data(), static_cast<std::int32_t>(kept));
  MemorySource source{image.data(), 4 + kRecord * kept};
  std::istream in{&source};
  set.load_from_stream(in);
  return set;
}

// The blocks are sorted by key, merged where a key repeats and dropped where empty, then written in the
// legacy form (block count, then each block verbatim) and read back, which gives the set those blocks.
void normalize(intset::tnumbrelle& set) {
  const std::span<const intset::tblock> blocks = set.blocks();
  bool ordinary = true;
  for (std::size_t i = 0; i < blocks.size() && ordinary; ++i)
    ordinary = !map_empty(blocks[i]) && (i == 0 || blocks[i - 1].key < blocks[i].key);
  if (ordinary) return;

  std::vector<intset::tblock> sorted(blocks.begin(), blocks.end());
  std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.key < b.key; });
  std::vector<intset::tblock> merged;
  for (const intset::tblock& block : sorted) {
    if (!merged.empty() && merged.back().key == block.key) {
      for (int i = 0; i < 32; ++i) merged.back().bits[i] |= block.bits[i];
    } else {
      merged.push_back(block);
    }
  }
  std::erase_if(merged, map_empty);

  std::string legacy(4 + sizeof(intset::tblock) * merged.size(), '\0');
  store_le32(legacy.data(), static_cast<std::int32_t>(merged.size()));
  for (std::size_t i = 0; i < merged.size(); ++i) {
    char* record = legacy.data() + 4 + sizeof(intset::tblock) * i;
    store_le32(record, merged[i].key);
    std::memcpy(record + 4, merged[i].bits, sizeof merged[i].bits);
  }
  MemorySource source{legacy.data(), legacy.size()};
  std::istream in{&source};
  intset::tnumbrelle rebuilt;
  rebuilt.load_from_stream(in);
  set = std::move(rebuilt);
}

}  // namespace pyintset
