// Using intset: build sets, combine and compare them, iterate, and save and load one.
#include <iostream>
#include <sstream>
#include <utility>

#include "intset/tnumbrelle.h"

int main() {
  intset::tnumbrelle primes, odds;
  primes.include_array(std::vector<std::int32_t>{2, 3, 5, 7, 11, 13});
  for (std::int32_t v = -9; v <= 15; v += 2) odds.include(v);

  primes.intersect(odds);  // primes := primes ∩ odds
  std::cout << "odd primes:";
  for (const std::int32_t v : std::as_const(primes)) std::cout << ' ' << v;
  std::cout << "\nsubset: " << primes.is_subset_of(odds) << ", count: " << primes.count() << '\n';

  std::stringstream file;
  primes.save_to_stream(file);
  intset::tnumbrelle loaded;
  try {
    loaded.load_from_stream(file);
  } catch (const intset::Exception& e) {  // every library error carries a readable message
    std::cerr << e.what() << '\n';
    return 1;
  }
  std::cout << "loaded equals saved: " << loaded.equals(primes) << '\n';
}
