// The builds of the Roaring reader's and writer's bit loops: a portable one, one for processors with the
// popcount and first bit manipulation instructions, and, for reading bitsets, one with AVX2 as well. Each
// call uses the fastest the processor has, up to roaring_paths_allowed; tests lower it to check the others.
#ifndef INTSET_ROARING_PATHS_H_
#define INTSET_ROARING_PATHS_H_

namespace intset::detail {

enum class roaring_path { portable, bits, wide };

inline roaring_path roaring_paths_allowed = roaring_path::wide;

}  // namespace intset::detail

#endif  // INTSET_ROARING_PATHS_H_
