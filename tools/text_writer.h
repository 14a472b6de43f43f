// Writing a set as text: the members in ascending order, one per line, or with runs as ranges a..b.
#ifndef NBL_TEXT_WRITER_H_
#define NBL_TEXT_WRITER_H_

#include <ostream>

#include "intset/tnumbrelle.h"

namespace nbl {

// Writes the members in ascending order, one decimal integer per line; with `ranges`, each run of three or
// more consecutive members as one line "a..b", which reads back as the same members.
void write_text(const intset::tnumbrelle& set, std::ostream& out, bool ranges);

}  // namespace nbl

#endif  // NBL_TEXT_WRITER_H_
