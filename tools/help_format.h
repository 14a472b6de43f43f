// The layout of nbl's --help: CLI11's, with every line wrapped at 80 columns.
#ifndef NBL_HELP_FORMAT_H_
#define NBL_HELP_FORMAT_H_

#include <CLI/CLI.hpp>
#include <string>

namespace nbl {

// Wraps the lines of `text` longer than `width` at spaces. A continuation line starts where the text of
// its line does: after the first gap of two or more spaces in an indented line (an option's description),
// else at the line's own indentation.
std::string wrapped(const std::string& text, std::size_t width = 80);

class help_formatter : public CLI::Formatter {
 public:
  help_formatter() { column_width(24); }
  std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override {
    return wrapped(CLI::Formatter::make_help(app, std::move(name), mode));
  }
  // A blank line between the description and the usage line.
  std::string make_description(const CLI::App* app) const override {
    const std::string text = CLI::Formatter::make_description(app);
    return text.empty() ? text : text + "\n";
  }
};

}  // namespace nbl

#endif  // NBL_HELP_FORMAT_H_
