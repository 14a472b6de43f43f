#include "help_format.h"

#include <sstream>

namespace nbl {

namespace {

// Where the continuation lines of `line` start.
std::size_t hanging_indent(const std::string& line) {
  const std::size_t text = line.find_first_not_of(' ');
  if (text == std::string::npos || text == 0) return 0;
  const std::size_t gap = line.find("  ", text);
  if (gap != std::string::npos && gap < line.size() / 2) {
    const std::size_t after = line.find_first_not_of(' ', gap);
    if (after != std::string::npos) return after;
  }
  return text;
}

void wrap_line(const std::string& line, std::size_t width, std::string& out) {
  if (line.size() <= width) {
    out += line;
    return;
  }
  const std::size_t indent = hanging_indent(line);
  std::size_t start = 0;
  bool first = true;
  while (start < line.size()) {
    const std::size_t room = first ? width : width - indent;
    if (!first) out += std::string(indent, ' ');
    if (line.size() - start <= room) {
      out += line.substr(start);
      return;
    }
    std::size_t cut = line.rfind(' ', start + room);
    if (cut == std::string::npos || cut <= start + (first ? indent : 0)) cut = line.find(' ', start + room);
    if (cut == std::string::npos) {
      out += line.substr(start);
      return;
    }
    std::size_t end = cut;
    while (end > start && line[end - 1] == ' ') --end;
    out += line.substr(start, end - start);
    out += '\n';
    start = line.find_first_not_of(' ', cut);
    if (start == std::string::npos) return;
    first = false;
  }
}

}  // namespace

std::string wrapped(const std::string& text, std::size_t width) {
  std::string out;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    wrap_line(line, width, out);
    out += '\n';
  }
  return out;
}

}  // namespace nbl
