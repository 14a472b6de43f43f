#include "app/fnubrel_strings.h"

namespace fnubrel_strings {

// --- Translatable texts ---------------------------------------------------------------------------------
const char* const include_caption = "Include";
const char* const invert_caption = "Invert";
const char* const enter_integer = "Enter integer:";
const char* const not_an_integer = "\"%s\" is not a valid integer value";
// --------------------------------------------------------------------------------------------------------

}  // namespace fnubrel_strings
