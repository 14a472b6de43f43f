// nbl: a set calculator for the shell. Reads sets of 32-bit integers in the set's own form, the portable
// Roaring format or text, found from each input's first bytes; lists, converts, combines, compares and
// counts them.
//
// Exit status: 0 on success, 1 when a file is missing, damaged or cannot be written, 2 for bad usage;
// compare --is exits with 0 when the relation holds, 1 when it does not and 2 on any trouble. Errors go to
// standard error as "nbl: FILE: Message" ("nbl: message" for bad usage).
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdint>
#include <exception>
#include <iostream>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "commands.h"
#include "errors.h"
#include "help_format.h"
#include "help_text.h"
#include "set_output.h"

namespace {

using nbl::request;

// The command line as CLI11 fills it in, before it becomes a request.
struct parsed {
  request r;
  std::string file, in, a, b, from, to;
  std::vector<std::string> files;
  std::string topic;  // help's
};

const char* const kOperations[] = {"unite", "intersect", "subtract", "invert"};

std::string with_capital(std::string s) {
  if (!s.empty() && s[0] >= 'a' && s[0] <= 'z') s[0] = static_cast<char>(s[0] - 'a' + 'A');
  return s;
}
std::string without_capital(std::string s) {
  if (s.size() > 1 && s[0] >= 'A' && s[0] <= 'Z' && !(s[1] >= 'A' && s[1] <= 'Z'))
    s[0] = static_cast<char>(s[0] - 'A' + 'a');
  return s;
}

class command_line {
 public:
  command_line();
  // Parses and carries out the command; returns the exit status.
  int run(int argc, char** argv);
  // The exit status for a file that cannot be read or written: 2 for compare --is, else 1.
  int trouble_status() const { return trouble_; }

 private:
  CLI::App* add(const std::string& name, const nbl::help_text& text);
  void add_reading(CLI::App* command);
  void add_writing(CLI::App* command);
  std::string usage_message(const CLI::ParseError& e) const;
  int dispatch();

  CLI::App app_{"", "nbl"};
  parsed p_;
  std::vector<std::string> names_;
  int trouble_ = 1;
};

CLI::App* command_line::add(const std::string& name, const nbl::help_text& text) {
  CLI::App* command = app_.add_subcommand(name, text.summary);
  command->footer(text.footer.empty() ? text.description : text.description + "\n\n" + text.footer);
  names_.push_back(name);
  return command;
}

void command_line::add_reading(CLI::App* command) {
  command->add_option("--from", p_.from, "Read every input in this format, whatever its first bytes")
      ->type_name("FORMAT")
      ->check(CLI::IsMember({"nbl", "roaring", "text"}));
  command
      ->add_option("--max-blocks", p_.r.max_blocks.emplace(),
                   "Refuse an input whose set would take more than N blocks of 256 values (36 bytes each), "
                   "before the memory is taken")
      ->type_name("N")
      ->check(CLI::Range(0, std::numeric_limits<std::int32_t>::max()).description(""));
}

void command_line::add_writing(CLI::App* command) {
  command->add_option("--to", p_.to, "Write the output in this format, whatever its extension")
      ->type_name("FORMAT")
      ->check(CLI::IsMember({"nbl", "roaring", "text"}));
  command->add_flag("-f,--force", p_.r.force, "Write a binary format to a terminal all the same");
}

command_line::command_line() {
  app_.formatter(std::make_shared<nbl::help_formatter>());
  app_.description(nbl::kMainHelp.description);
  app_.footer(nbl::kMainHelp.footer);
  app_.set_version_flag("--version", std::string("nbl ") + NUMBRELLE_VERSION);
  app_.set_help_flag("-h,--help", "Print this help and exit");
  app_.require_subcommand(1, 1);

  CLI::App* info = add("info", nbl::kInfoHelp);
  info->add_option("FILE", p_.file, "The set file")->type_name("")->required();
  add_reading(info);

  CLI::App* list = add("list", nbl::kListHelp);
  list->add_option("FILE", p_.file, "The set file")->type_name("")->required();
  list->add_flag("--ranges", p_.r.ranges, "Print each run of three or more consecutive members as a..b");
  add_reading(list);

  CLI::App* count = add("count", nbl::kCountHelp);
  count->add_option("FILE", p_.files, "The set files")->type_name("")->required();
  add_reading(count);

  CLI::App* check = add("check", nbl::kCheckHelp);
  check->add_option("FILE", p_.file, "The set file")->type_name("")->required();
  add_reading(check);

  CLI::App* convert = add("convert", nbl::kConvertHelp);
  convert->add_option("IN", p_.in, "The set file to read")->type_name("")->required();
  convert->add_option("OUT", p_.r.out, "The file to write")->type_name("")->required();
  add_reading(convert);
  add_writing(convert);

  for (const char* operation : kOperations) {
    CLI::App* command = add(operation, nbl::operation_help(operation));
    command->add_option("FILE", p_.files, "The set files")->type_name("")->required();
    command->add_option("-o,--output", p_.r.out, "The file to write; standard output when not given")
        ->type_name("OUT");
    add_reading(command);
    add_writing(command);
  }

  CLI::App* combine = add("combine", nbl::kCombineHelp);
  combine->add_option("OPERATION", p_.r.operation, "intersect, unite, subtract or invert")
      ->type_name("")
      ->required()
      ->check(CLI::IsMember({"intersect", "unite", "subtract", "invert"}));
  combine->add_option("A", p_.a, "The first set file")->type_name("")->required();
  combine->add_option("B", p_.b, "The second set file")->type_name("")->required();
  combine->add_option("OUT", p_.r.out, "The file to write")->type_name("")->required();
  add_reading(combine);
  add_writing(combine);

  CLI::App* compare = add("compare", nbl::kCompareHelp);
  compare->add_option("A", p_.a, "The first set file")->type_name("")->required();
  compare->add_option("B", p_.b, "The second set file")->type_name("")->required();
  compare->add_option("--is", p_.r.relation, "Print nothing; exit with 0 when A is RELATION to B, else 1")
      ->type_name("RELATION")
      ->check(CLI::IsMember({"equal", "subset", "superset", "disjoint"}));
  add_reading(compare);

  CLI::App* help = add("help", nbl::kHelpHelp);
  help->add_option("SUBCOMMAND", p_.topic, "The subcommand to describe")->type_name("");
  add("version", nbl::kVersionHelp);
}

// What is wrong with a command line CLI11 refused, in plain words.
std::string command_line::usage_message(const CLI::ParseError& e) const {
  const std::vector<CLI::App*> chosen = app_.get_subcommands();
  const CLI::App* command = chosen.empty() ? nullptr : chosen.front();
  for (const std::string& arg : (command ? command->remaining() : app_.remaining())) {
    if (arg.size() > 1 && arg[0] == '-') return "unknown option " + arg;
  }
  if (command == nullptr) {
    const std::vector<std::string> rest = app_.remaining();
    if (!rest.empty()) return "unknown subcommand \"" + rest.front() + "\"";
    return "a subcommand is required";
  }
  return command->get_name() + ": " + without_capital(e.what());
}

int command_line::run(int argc, char** argv) {
  try {
    app_.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app_.exit(e);  // --help, --version
    const std::vector<CLI::App*> chosen = app_.get_subcommands();
    const std::string help = chosen.empty() ? "nbl --help" : "nbl " + chosen.front()->get_name() + " --help";
    std::cerr << "nbl: " << usage_message(e) << "\nRun " << help << " for more information.\n";
    return 2;
  }
  return dispatch();
}

int command_line::dispatch() {
  const std::string name = app_.get_subcommands().front()->get_name();
  const CLI::App& command = *app_.get_subcommand(name);
  request& r = p_.r;
  if (command.get_option_no_throw("--max-blocks") == nullptr || command.count("--max-blocks") == 0)
    r.max_blocks.reset();
  if (!p_.from.empty()) r.from = nbl::format_named(p_.from);
  if (!p_.to.empty()) r.to = nbl::format_named(p_.to);
  if (name == "help") {
    if (p_.topic.empty()) {
      nbl::standard_output() << app_.get_formatter()->make_help(&app_, "nbl", CLI::AppFormatMode::Normal);
    } else {
      if (std::find(names_.begin(), names_.end(), p_.topic) == names_.end())
        throw nbl::usage_error("unknown subcommand \"" + p_.topic + "\"");
      const CLI::App* topic = app_.get_subcommand(p_.topic);
      nbl::standard_output() << topic->get_formatter()->make_help(topic, "nbl " + p_.topic,
                                                                  CLI::AppFormatMode::Normal);
    }
    return 0;
  }
  if (name == "version") {
    nbl::standard_output() << "nbl " << NUMBRELLE_VERSION << '\n';
    return 0;
  }
  if (!p_.file.empty()) r.files = {p_.file};
  if (!p_.in.empty()) r.files = {p_.in};
  if (!p_.files.empty()) r.files = p_.files;
  if (!p_.a.empty()) r.files = {p_.a, p_.b};
  if (name == "info") return nbl::run_info(r);
  if (name == "list") return nbl::run_list(r);
  if (name == "count") return nbl::run_count(r);
  if (name == "check") return nbl::run_check(r);
  if (name == "convert") return nbl::run_convert(r);
  if (name == "compare") {
    if (!r.relation.empty()) trouble_ = 2;
    return nbl::run_compare(r);
  }
  if (name != "combine") r.operation = name;
  return nbl::run_combine(r);
}

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  command_line line;
  try {
    const int status = line.run(argc, argv);
    nbl::finish_standard_output();
    return status;
  } catch (const nbl::usage_error& e) {
    std::cerr << "nbl: " << e.what() << "\nRun nbl --help for more information.\n";
    return 2;
  } catch (const nbl::file_error& e) {
    std::cerr << "nbl: " << e.what() << '\n';
  } catch (const std::bad_alloc&) {
    std::cerr << "nbl: " << with_capital(intset::EOutOfMemory().what()) << '\n';
  } catch (const std::exception& e) {  // anything else, rather than an abort
    std::cerr << "nbl: " << with_capital(e.what()) << '\n';
  }
  return line.trouble_status();
}
