// The batched lookups (contains_many, rank_many, select_many) and buffered enumeration (members_from) of
// tnumbrelle, checked against std::set and against the single-value forms they stand for.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>

#include "set_helpers.h"

namespace {

using namespace testing_helpers;
using model = std::set<std::int32_t>;

// Sets of different shapes: packed blocks (the lookups index them by key), blocks far apart over the whole
// range (by a search over their keys), both ends of the range, few members among many blocks.
model random_model(std::mt19937& rng, int shape) {
  model m;
  const auto any = [&rng] { return static_cast<std::int32_t>(rng()); };
  switch (shape) {
    case 0:
      break;
    case 1:
      m = {kMin, -257, -256, -1, 0, kMax};
      break;
    case 2:
      for (int i = 0; i < 20000; ++i) m.insert(static_cast<std::int32_t>(rng() % 300000) - 150000);
      break;
    case 3:
      for (int i = 0; i < 5000; ++i) m.insert(any());
      break;
    default:
      for (int i = 0; i < 3000; ++i) m.insert(static_cast<std::int32_t>(rng() % 4096) * 256 - 524288);
      break;
  }
  return m;
}

// Values to look up: members and non-members, edge values, repeats; ascending or not.
std::vector<std::int32_t> random_values(std::mt19937& rng, const model& m, std::size_t n, bool ascending) {
  const std::vector<std::int32_t> members(m.begin(), m.end());
  std::vector<std::int32_t> values{kMin, kMax, -1, -256, -257, 0};
  while (values.size() < n) {
    const std::uint32_t kind = rng() % 4;
    if (kind == 0 && !members.empty()) {
      values.push_back(members[rng() % members.size()]);
    } else if (kind == 1 && !values.empty()) {
      values.push_back(values[rng() % values.size()]);  // a repeat
    } else if (kind == 2 && !members.empty()) {
      values.push_back(static_cast<std::int32_t>(std::clamp<std::int64_t>(
          std::int64_t{members[rng() % members.size()]} + static_cast<int>(rng() % 600) - 300, kMin, kMax)));
    } else {
      values.push_back(static_cast<std::int32_t>(rng()));
    }
  }
  values.resize(n);
  if (ascending) std::sort(values.begin(), values.end());
  return values;
}

TEST(BatchedQueries, AgreeWithStdSetInAnyOrderOfInput) {
  std::mt19937 rng(2026);
  for (int round = 0; round < 30; ++round) {
    const model m = random_model(rng, round % 5);
    const tnumbrelle set(std::span<const std::int32_t>(std::vector<std::int32_t>(m.begin(), m.end())));
    const std::vector<std::int32_t> members(m.begin(), m.end());
    for (const std::size_t n : {std::size_t{0}, std::size_t{6}, std::size_t{50}, std::size_t{20000}}) {
      for (const bool ascending : {true, false}) {
        SCOPED_TRACE("round " + std::to_string(round) + ", " + std::to_string(n) + " values" +
                     (ascending ? ", ascending" : ""));
        const std::vector<std::int32_t> values = random_values(rng, m, n, ascending);
        std::vector<char> found(n);  // not vector<bool>, whose elements are not bools
        std::vector<std::int64_t> ranks(n);
        set.contains_many(values, {reinterpret_cast<bool*>(found.data()), n});
        set.rank_many(values, ranks);
        for (std::size_t i = 0; i < n; ++i) {
          ASSERT_EQ(static_cast<bool>(found[i]), m.contains(values[i])) << values[i];
          ASSERT_EQ(ranks[i], std::upper_bound(members.begin(), members.end(), values[i]) - members.begin())
              << values[i];
        }
        if (m.empty()) continue;
        std::vector<std::int64_t> wanted(n);
        for (auto& k : wanted) k = static_cast<std::int64_t>(rng() % members.size());
        if (ascending) std::sort(wanted.begin(), wanted.end());
        std::vector<std::int32_t> selected(n);
        set.select_many(wanted, selected);
        for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(selected[i], members[wanted[i]]) << wanted[i];
      }
    }
  }
}

TEST(BatchedQueries, EveryRankOfABigSetSelectsItsMember) {
  std::mt19937 rng(3);
  std::vector<std::int32_t> values(300000);
  for (auto& v : values) v = static_cast<std::int32_t>(rng() % 3000000);
  const tnumbrelle set(values);
  const tarrayofinteger members = tnumbrelle(set).to_array();
  std::vector<std::int64_t> ranks(members.size());
  for (std::size_t i = 0; i < ranks.size(); ++i) ranks[i] = static_cast<std::int64_t>(i);
  std::vector<std::int32_t> out(ranks.size());
  set.select_many(ranks, out);  // ascending: skips runs of blocks by their counts
  EXPECT_EQ(out, std::vector<std::int32_t>(members.begin(), members.end()));
  std::vector<std::int64_t> back(out.size());
  set.rank_many(out, back);
  for (std::size_t i = 0; i < back.size(); ++i) ASSERT_EQ(back[i], ranks[i] + 1);
}

// A set from a damaged old-form file (keys repeated and out of order, empty maps): each answer is the one
// the single-value form gives there.
TEST(BatchedQueries, OnDamagedBlocksAnswerAsTheSingleValueForms) {
  std::mt19937 rng(11);
  for (int round = 0; round < 30; ++round) {
    std::vector<intset::tblock> blocks(1 + rng() % 30);
    for (auto& block : blocks) {
      block.key = static_cast<std::int32_t>(rng() % 12) - 6;
      for (auto& byte : block.bits) byte = rng() % 3 == 0 ? static_cast<std::uint8_t>(rng()) : 0;
    }
    std::istringstream in(legacy_file(blocks));
    tnumbrelle set;
    set.load_from_stream(in);
    std::vector<std::int32_t> values(200);
    for (auto& v : values) v = static_cast<std::int32_t>(rng() % 4000) - 2000;
    std::vector<char> found(values.size());
    std::vector<std::int64_t> ranks(values.size());
    set.contains_many(values, {reinterpret_cast<bool*>(found.data()), found.size()});
    set.rank_many(values, ranks);
    for (std::size_t i = 0; i < values.size(); ++i) {
      ASSERT_EQ(static_cast<bool>(found[i]), set.contains(values[i]));
      ASSERT_EQ(ranks[i], set.rank(values[i]));
    }
    if (set.size() == 0) continue;
    std::vector<std::int64_t> wanted(50);
    for (auto& k : wanted) k = static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(set.size()));
    std::vector<std::int32_t> selected(wanted.size());
    set.select_many(wanted, selected);
    for (std::size_t i = 0; i < wanted.size(); ++i) ASSERT_EQ(selected[i], set.select(wanted[i]));
  }
}

TEST(BatchedQueries, WrongLengthsAndRanksOutsideTheSetRaiseBeforeWriting) {
  const tnumbrelle set{1, 5, 9};
  const std::vector<std::int32_t> values{1, 2, 3};
  std::vector<std::int64_t> ranks(2, -7);
  bool found[2] = {true, true};
  EXPECT_THROW(set.contains_many(values, found), std::invalid_argument);
  EXPECT_THROW(set.rank_many(values, ranks), std::invalid_argument);
  EXPECT_TRUE(found[0] && found[1]);
  EXPECT_EQ(ranks, std::vector<std::int64_t>(2, -7));

  std::vector<std::int32_t> out(3, 42);
  try {
    set.select_many(std::vector<std::int64_t>{0, 3, -1}, out);
    ADD_FAILURE() << "a rank past the members was taken";
  } catch (const std::out_of_range& e) {
    EXPECT_STREQ(e.what(), "select_many: rank 3 at position 1 is outside [0, 3)");
  }
  EXPECT_EQ(out, std::vector<std::int32_t>(3, 42));
  EXPECT_THROW(tnumbrelle().select_many(std::vector<std::int64_t>{0}, std::span(out).first(1)),
               std::out_of_range);
  try {
    set.select_many(std::vector<std::int64_t>{1}, out);
    ADD_FAILURE() << "three answers for one rank";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "select_many: 1 inputs but room for 3 answers");
  }
}

TEST(MembersFrom, FillsBuffersInOrderFromAnyStartAndEndsAtTheTop) {
  std::mt19937 rng(5);
  for (int round = 0; round < 40; ++round) {
    const model m = random_model(rng, round % 5);
    const tnumbrelle set(std::span<const std::int32_t>(std::vector<std::int32_t>(m.begin(), m.end())));
    for (const std::size_t room : {std::size_t{1}, std::size_t{7}, std::size_t{256}, std::size_t{1000}}) {
      const std::int32_t start = round % 3 == 0 ? kMin : static_cast<std::int32_t>(rng());
      std::vector<std::int32_t> buffer(room), walked;
      for (std::int64_t from = start; from <= kMax;) {
        const std::span<std::int32_t> got = set.members_from(static_cast<std::int32_t>(from), buffer);
        if (got.empty()) break;
        ASSERT_LE(got.size(), room);
        walked.insert(walked.end(), got.begin(), got.end());
        from = std::int64_t{got.back()} + 1;  // past 2147483647 ends the walk
      }
      ASSERT_EQ(walked, std::vector<std::int32_t>(m.lower_bound(start), m.end())) << "room " << room;
    }
  }
  const tnumbrelle ends{kMin, kMax};
  std::int32_t one[1];
  EXPECT_EQ(ends.members_from(kMax, one).size(), 1u);
  EXPECT_EQ(one[0], kMax);
  EXPECT_TRUE(ends.members_from(kMin, {}).empty());
  EXPECT_TRUE(tnumbrelle().members_from(kMin, one).empty());
}

}  // namespace
