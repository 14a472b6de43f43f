// Reading a set from text: decimal integers with an optional sign and ranges a..b, separated by any
// whitespace; # starts a comment that runs to the end of the line; a UTF-8 byte-order mark at the start is
// skipped. The text is read in chunks and its values added in batches, so memory follows the set.
#ifndef NBL_TEXT_READER_H_
#define NBL_TEXT_READER_H_

#include <cstdint>
#include <optional>

#include "byte_source.h"
#include "intset/tnumbrelle.h"

namespace nbl {

// Adds the values of the text `in` holds to `set`. Raises malformed for a token that is neither an integer
// in the 32-bit signed range nor such a range, naming its line; kNotASetFile instead when the token holds
// bytes that text does not and the format was `detected` rather than given. Raises ETooManyBlocks once the
// set passes `max_blocks` (when given) by more than a few thousand blocks at most.
void read_text(byte_source& in, intset::tnumbrelle& set, const std::optional<std::int32_t>& max_blocks,
               bool detected);

}  // namespace nbl

#endif  // NBL_TEXT_READER_H_
