// What the two refresh benchmarks share: the sets A and B of 1,000,000 members each, in two shapes, and the
// window logic behind a view that discards what it is given.
#ifndef BENCH_REFRESH_FIXTURES_H_
#define BENCH_REFRESH_FIXTURES_H_

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "app/fnubrel_logic.h"

namespace refresh_fixtures {

constexpr std::int32_t kMembers = 1'000'000;

enum shape : std::int64_t { clustered = 0, spread = 1 };

// `kMembers` distinct values of the given shape; `seed` tells A's values from B's.
inline intset::tarrayofinteger members(shape s, std::uint32_t seed) {
  intset::tarrayofinteger values;
  if (s == clustered) {
    const std::int32_t start = seed == 1 ? 0 : kMembers / 2;  // A and B overlap by half
    for (std::int32_t i = 0; i < kMembers; ++i) values.push_back(start + i);
    return values;
  }
  std::mt19937 rng(seed);
  while (values.size() < static_cast<std::size_t>(kMembers)) {
    while (values.size() < static_cast<std::size_t>(kMembers))
      values.push_back(static_cast<std::int32_t>(rng()));
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
  }
  return values;
}

class noop_view : public fnubrel_logic {
 public:
  explicit noop_view(shape s) {
    FormCreate();
    set_a->include_array(members(s, 1));
    set_b->include_array(members(s, 2));
  }
  ~noop_view() override { FormDestroy(); }

  using fnubrel_logic::refresh;
  intset::tnumbrelle& a() { return *set_a; }
  intset::tnumbrelle& b() { return *set_b; }

 protected:
  void replace_items(view_element, const member_array& members) override {
    benchmark::DoNotOptimize(members->data());
  }
  void set_text(view_element, const std::string& text) override { benchmark::DoNotOptimize(text.data()); }
  std::optional<std::string> selected_item(view_element) override { return std::nullopt; }
  std::optional<std::string> prompt(const std::string&, const std::string&) override { return std::nullopt; }
  std::optional<std::string> choose_open_file() override { return std::nullopt; }
  std::optional<std::string> choose_save_file() override { return std::nullopt; }
};

}  // namespace refresh_fixtures

#endif  // BENCH_REFRESH_FIXTURES_H_
