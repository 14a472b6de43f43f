#include "intset/messages.h"

namespace intset::messages {

// --- Translatable texts ---------------------------------------------------------------------------------
const char* const out_of_memory = "Out of memory";
const char* const too_many_members = "The set has more than 2147483647 members";
const char* const crc_error = "CRC error";
const char* const cannot_open_file = "Cannot open file \"%s\". %s";
const char* const cannot_create_file = "Cannot create file \"%s\". %s";
const char* const unordered_blocks = "The set's blocks are out of key order, so it cannot be saved";
const char* const too_many_blocks = "The input would need at least %s blocks, more than the limit of %s";
const char* const too_many_blocks_one = "The input would need at least 1 block, more than the limit of 0";
const char* const stream_read_error = "Stream read error";
const char* const stream_write_error = "Stream write error";
const char* const not_roaring = "Not a Roaring bitmap";
const char* const damaged_roaring = "Damaged Roaring bitmap: %s";
const char* const roaring_ends_early = "the data ends early";
const char* const roaring_too_many_containers = "it states %s containers, more than 65536";
const char* const roaring_keys_not_rising = "the container keys do not rise";
const char* const roaring_array_not_rising = "the values of the container with key %s do not rise";
const char* const roaring_run_overflow = "a run of the container with key %s goes past 65535";
const char* const roaring_runs_disordered =
    "the runs of the container with key %s overlap or are out of order";
const char* const roaring_wrong_cardinality = "the container with key %s holds %s values but states %s";
const char* const roaring_offset_mismatch =
    "the offset of the container with key %s does not match the layout";
// --------------------------------------------------------------------------------------------------------

std::string format_message(std::string_view pattern, std::initializer_list<std::string_view> args) {
  std::string text;
  auto arg = args.begin();
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 's' && arg != args.end()) {
      text += *arg++;
      ++i;
    } else {
      text += pattern[i];
    }
  }
  return text;
}

}  // namespace intset::messages
