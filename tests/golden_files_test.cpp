// Files written once on x86-64, read and written again on whatever machine runs the tests: the formats are
// the same bytes on hosts of either byte order and on every processor path.
#include "golden_files.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "intset/roaring_format.h"
#include "set_helpers.h"

namespace {

using namespace testing_helpers;

// The members of set.nbl and set.roaring: array, bitset and run containers, negative members, both ends.
tnumbrelle golden_set() {
  tnumbrelle s{kMin, -1000000, -257, -256, -1, 0, 1, 255, 256, 1000000, kMax};
  for (std::int32_t v = 5 * 65536; v < 6 * 65536; v += 3) s.include(v);    // a bitset container
  for (std::int32_t v = -7 * 65536; v < -6 * 65536; v += 5) s.include(v);  // a bitset of negatives
  s.include_range(-300000, -200001);                                       // runs over negative chunks
  s.include_range(1 << 24, (1 << 24) + 70000);                             // a run across two chunks
  return s;
}

TEST(GoldenFiles, EachFormatReadsAndWritesTheBytesMadeOnX86) {
  const tnumbrelle expected = golden_set();
  std::istringstream own{std::string(golden_set_nbl)}, roaring{std::string(golden_set_roaring)},
      legacy{std::string(golden_legacy_nbl)};
  tnumbrelle from_own, from_roaring, from_legacy;
  from_own.load_from_stream(own);
  intset::load_roaring_from_stream(from_roaring, roaring);
  from_legacy.load_from_stream(legacy);
  EXPECT_TRUE(from_own == expected);
  EXPECT_TRUE(from_roaring == expected);
  EXPECT_EQ(from_legacy.to_array(), (tarrayofinteger{-257, -256, -1, 0, 255, 256, 1000}));

  std::ostringstream own_out, roaring_out;
  expected.save_to_stream(own_out);
  intset::save_roaring_to_stream(expected, roaring_out);
  EXPECT_TRUE(own_out.str() == golden_set_nbl) << "the set's own form differs from the golden file";
  EXPECT_TRUE(roaring_out.str() == golden_set_roaring) << "the Roaring form differs from the golden file";
}

}  // namespace
