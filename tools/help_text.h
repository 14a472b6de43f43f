// The words of nbl's --help: each subcommand's one-line summary, its description and its footer.
#ifndef NBL_HELP_TEXT_H_
#define NBL_HELP_TEXT_H_

#include <string>

namespace nbl {

struct help_text {
  std::string summary;      // in the list of subcommands
  std::string description;  // above the subcommand's own help
  std::string footer;       // below it: details and examples
};

extern const help_text kMainHelp, kInfoHelp, kListHelp, kCountHelp, kCheckHelp, kConvertHelp, kCombineHelp,
    kCompareHelp, kHelpHelp, kVersionHelp;

// The help of unite, intersect, subtract or invert.
help_text operation_help(const std::string& operation);

}  // namespace nbl

#endif  // NBL_HELP_TEXT_H_
