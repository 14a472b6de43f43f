// The user-visible texts of the library, kept apart from the code so that they can be translated in one
// place. Texts with %s placeholders are filled in by format_message().
#ifndef INTSET_MESSAGES_H_
#define INTSET_MESSAGES_H_

#include <initializer_list>
#include <string>
#include <string_view>

namespace intset::messages {

extern const char* const out_of_memory;
extern const char* const too_many_members;
extern const char* const crc_error;
extern const char* const cannot_open_file;    // file name, system's text for the error
extern const char* const cannot_create_file;  // file name, system's text for the error
extern const char* const unordered_blocks;
extern const char* const too_many_blocks;
extern const char* const too_many_blocks_one;  // the same for one block  // blocks needed, the limit
extern const char* const stream_read_error;
extern const char* const stream_write_error;
extern const char* const not_roaring;
extern const char* const damaged_roaring;  // what is wrong, one of the roaring_* texts below
extern const char* const roaring_ends_early;
extern const char* const roaring_too_many_containers;  // the stated count
extern const char* const roaring_keys_not_rising;
extern const char* const roaring_array_not_rising;   // container key
extern const char* const roaring_run_overflow;       // container key
extern const char* const roaring_runs_disordered;    // container key
extern const char* const roaring_wrong_cardinality;  // container key, values held, values stated
extern const char* const roaring_offset_mismatch;    // container key

// Replaces each "%s" in `pattern` by the next argument, in order.
std::string format_message(std::string_view pattern, std::initializer_list<std::string_view> args);

}  // namespace intset::messages

#endif  // INTSET_MESSAGES_H_
