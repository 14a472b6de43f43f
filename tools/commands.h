// The subcommands of nbl, each carried out on a parsed command line.
#ifndef NBL_COMMANDS_H_
#define NBL_COMMANDS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "set_input.h"

namespace nbl {

// What the command line asks for, once parsed.
struct request {
  std::vector<std::string> files;  // the operands, in order
  std::string operation;           // combine's
  std::string out = "-";           // where the set goes
  std::string relation;            // compare --is
  std::optional<format> from, to;
  std::optional<std::int32_t> max_blocks;
  bool ranges = false, force = false;
};

// The relations compare tells apart, in the order in which it names the first that holds.
inline constexpr const char* kRelations[] = {"equal", "subset", "superset", "disjoint", "overlap"};

// Each returns the exit status; failures raise usage_error or file_error.
int run_info(const request& r);
int run_list(const request& r);
int run_count(const request& r);
int run_check(const request& r);
int run_convert(const request& r);
int run_combine(const request& r);  // combine OPERATION A B OUT, and the operations with any number of files
int run_compare(const request& r);

}  // namespace nbl

#endif  // NBL_COMMANDS_H_
