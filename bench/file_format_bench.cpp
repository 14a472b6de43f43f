// Save and load of a set of about 1,000,000 blocks, to memory and to a file, each beside a plain copy of
// the same number of bytes (memcpy; write + fsync; read) as the reference. Reported as bytes per second
// of the saved file.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <istream>
#include <memory>
#include <ostream>
#include <random>
#include <streambuf>
#include <string>
#include <vector>

#include "intset/tnumbrelle.h"

namespace {

namespace fs = std::filesystem;
using intset::tnumbrelle;

constexpr std::int32_t kBlocks = 1'000'000;

// Blocks spread over the key range, each with 1 to 64 random members: records of 9 to 40 bytes.
const tnumbrelle& big_set() {
  static const tnumbrelle* set = [] {
    auto* s = new tnumbrelle;
    std::mt19937 rng(42);
    std::vector<std::int32_t> values;
    for (std::int32_t b = 0; b < kBlocks; ++b) {
      const std::int32_t base = (b * 8 - 4'000'000) * 256;
      for (int n = std::uniform_int_distribution<int>(1, 64)(rng); n > 0; --n) {
        values.push_back(base + static_cast<std::int32_t>(rng() % 256));
      }
    }
    s->include_array(values);
    return s;
  }();
  return *set;
}

// Fixed memory behind a stream, so that the benchmark measures the set and not string growth.
class memory_buffer : public std::streambuf {
 public:
  memory_buffer(char* data, std::size_t size) {
    setp(data, data + size);
    setg(data, data, data + size);
  }
  std::size_t written() const { return static_cast<std::size_t>(pptr() - pbase()); }
};

const std::vector<char>& saved_bytes() {
  static const std::vector<char> bytes = [] {
    std::vector<char> out(std::size_t{kBlocks} * 40 + 12);
    memory_buffer buffer(out.data(), out.size());
    std::ostream stream(&buffer);
    big_set().save_to_stream(stream);
    out.resize(buffer.written());
    return out;
  }();
  return bytes;
}

struct scratch_folder {
  fs::path path = fs::temp_directory_path() / ("numbrelle-bench-" + std::to_string(::getpid()));
  scratch_folder() { fs::create_directories(path); }
  ~scratch_folder() { fs::remove_all(path); }
};
const fs::path& folder() {
  static scratch_folder scratch;
  return scratch.path;
}

void set_bytes(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(saved_bytes().size()));
  state.counters["file_MB"] = static_cast<double>(saved_bytes().size()) / 1e6;
}

// --- Memory ------------------------------------------------------------------------------------------

void BM_PlainCopy_Memory(benchmark::State& state) {
  const auto& source = saved_bytes();
  std::vector<char> target(source.size());
  for (auto _ : state) {
    std::memcpy(target.data(), source.data(), source.size());
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  set_bytes(state);
}
BENCHMARK(BM_PlainCopy_Memory)->Unit(benchmark::kMillisecond);

// The reference for loading into a new set: the copy goes to memory taken for it, which the system has
// to supply page by page. As much memory as the loaded set needs (36 bytes per block).
void BM_PlainCopy_Memory_FreshBuffer(benchmark::State& state) {
  const auto& source = saved_bytes();
  const std::size_t set_bytes_needed = std::size_t{kBlocks} * sizeof(intset::tblock);
  for (auto _ : state) {
    std::unique_ptr<char[]> target(new char[set_bytes_needed]);
    std::memcpy(target.get(), source.data(), source.size());
    std::memset(target.get() + source.size(), 0, set_bytes_needed - source.size());
    benchmark::DoNotOptimize(target.get());
    benchmark::ClobberMemory();
  }
  set_bytes(state);
}
BENCHMARK(BM_PlainCopy_Memory_FreshBuffer)->Unit(benchmark::kMillisecond);

void BM_Save_Memory(benchmark::State& state) {
  const tnumbrelle& set = big_set();
  std::vector<char> target(saved_bytes().size());
  for (auto _ : state) {
    memory_buffer buffer(target.data(), target.size());
    std::ostream out(&buffer);
    set.save_to_stream(out);
    benchmark::ClobberMemory();
  }
  set_bytes(state);
}
BENCHMARK(BM_Save_Memory)->Unit(benchmark::kMillisecond);

// Into a new set each time, as a program that loads a file usually does: includes taking the memory.
void BM_Load_Memory(benchmark::State& state) {
  auto& source = const_cast<std::vector<char>&>(saved_bytes());
  for (auto _ : state) {
    memory_buffer buffer(source.data(), source.size());
    std::istream in(&buffer);
    tnumbrelle set;
    set.load_from_stream(in);
    benchmark::DoNotOptimize(set.capacity());
  }
  set_bytes(state);
}
BENCHMARK(BM_Load_Memory)->Unit(benchmark::kMillisecond);

// The same into a set that already has the buffer: the decoding without the fresh memory's page faults.
void BM_Load_Memory_IntoSameSet(benchmark::State& state) {
  auto& source = const_cast<std::vector<char>&>(saved_bytes());
  tnumbrelle set;
  for (auto _ : state) {
    memory_buffer buffer(source.data(), source.size());
    std::istream in(&buffer);
    set.load_from_stream(in);
    benchmark::DoNotOptimize(set.capacity());
  }
  set_bytes(state);
}
BENCHMARK(BM_Load_Memory_IntoSameSet)->Unit(benchmark::kMillisecond);

// --- Files (write + fsync, then read from the page cache) ----------------------------------------------

void BM_PlainWrite_File(benchmark::State& state) {
  const auto& source = saved_bytes();
  const fs::path file = folder() / "plain.bin";
  for (auto _ : state) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::write(fd, source.data(), source.size()) != static_cast<ssize_t>(source.size()) ||
        ::fsync(fd) != 0 || ::close(fd) != 0) {
      state.SkipWithError("plain write failed");
      break;
    }
  }
  set_bytes(state);
}
BENCHMARK(BM_PlainWrite_File)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Save_File(benchmark::State& state) {
  const tnumbrelle& set = big_set();
  const fs::path file = folder() / "set.nbl";
  for (auto _ : state) set.save_to_file(file);
  set_bytes(state);
}
BENCHMARK(BM_Save_File)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PlainRead_File(benchmark::State& state) {
  const fs::path file = folder() / "plain.bin";
  {
    const auto& source = saved_bytes();
    std::ofstream(file, std::ios::binary).write(source.data(), static_cast<std::streamsize>(source.size()));
  }
  std::vector<char> target(saved_bytes().size());
  for (auto _ : state) {
    const int fd = ::open(file.c_str(), O_RDONLY);
    std::size_t done = 0;
    for (ssize_t got; fd >= 0 && (got = ::read(fd, target.data() + done, target.size() - done)) > 0;)
      done += got;
    if (fd < 0 || done != target.size()) {
      state.SkipWithError("plain read failed");
      break;
    }
    ::close(fd);
    benchmark::DoNotOptimize(target.data());
  }
  set_bytes(state);
}
BENCHMARK(BM_PlainRead_File)->Unit(benchmark::kMillisecond)->UseRealTime();

// Into a new set each time, and below into one that already has the buffer.
void BM_Load_File(benchmark::State& state) {
  const fs::path file = folder() / "set.nbl";
  big_set().save_to_file(file);
  for (auto _ : state) {
    tnumbrelle set;
    set.load_from_file(file);
    benchmark::DoNotOptimize(set.capacity());
  }
  set_bytes(state);
}
BENCHMARK(BM_Load_File)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Load_File_IntoSameSet(benchmark::State& state) {
  const fs::path file = folder() / "set.nbl";
  big_set().save_to_file(file);
  tnumbrelle set;
  for (auto _ : state) {
    set.load_from_file(file);
    benchmark::DoNotOptimize(set.capacity());
  }
  set_bytes(state);
}
BENCHMARK(BM_Load_File_IntoSameSet)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
