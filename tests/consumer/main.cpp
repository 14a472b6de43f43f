// Using intset: build, combine, compare and iterate sets, ask for ranges and ranks, save and load one.
#include <iostream>
#include <sstream>

#include "intset/tnumbrelle.h"

int main() {
  const intset::tnumbrelle primes{2, 3, 5, 7, 11, 13};
  intset::tnumbrelle odds, teens;
  for (std::int32_t v = -9; v <= 15; v += 2) odds.include(v);
  teens.include_range(13, 19);  // every value of the closed range [13, 19]

  const intset::tnumbrelle odd_primes = primes & odds;  // a new set; primes &= odds would change primes
  std::cout << "odd primes:";
  for (const std::int32_t v : odd_primes) std::cout << ' ' << v;
  std::cout << "\nsubset: " << odd_primes.is_subset_of(odds) << ", count: " << odd_primes.count() << '\n';
  std::cout << "odd teens: " << (teens & odds).count() << ", lowest odd: " << *odds.lowest()
            << ", odds up to 0: " << odds.rank(0) << '\n';

  std::stringstream file;
  odd_primes.save_to_stream(file);
  intset::tnumbrelle loaded;
  try {
    loaded.load_from_stream(file);
  } catch (const intset::Exception& e) {  // every library error carries a readable message
    std::cerr << e.what() << '\n';
    return 1;
  }
  std::cout << "loaded equals saved: " << (loaded == odd_primes) << '\n';
}
