// The texts the demo logic shows to the user through a prompt or an error, kept in one table apart from the
// code so that they can be translated in one place.
#ifndef APP_FNUBREL_STRINGS_H_
#define APP_FNUBREL_STRINGS_H_

namespace fnubrel_strings {

extern const char* const include_caption;  // caption of the Include prompt
extern const char* const invert_caption;   // caption of the Invert prompt
extern const char* const enter_integer;    // the text above the prompt's input line
extern const char* const not_an_integer;   // the entered text, which "%s" stands for

}  // namespace fnubrel_strings

#endif  // APP_FNUBREL_STRINGS_H_
