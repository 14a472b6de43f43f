// nbl: looks into, lists, converts, combines and checks set files from the shell.
//
// Exit status: 0 on success, 1 when a file is missing, damaged or cannot be written, 2 for bad usage.
// Errors go to standard error as "nbl: <message>". Every input is read whole before anything is written.
#include <CLI/CLI.hpp>
#include <bit>
#include <cstdint>
#include <iostream>
#include <limits>
#include <new>
#include <optional>
#include <string>

#include "intset/exceptions.h"
#include "set_files.h"

namespace {

using intset::tnumbrelle;

constexpr const char* kFormats =
    "nbl, roaring or text; by default taken from the extension (.nbl, .roaring, .txt)";

struct extent {
  std::int64_t members = 0;
  std::optional<std::int32_t> lowest, highest;
};

// Members and the lowest and highest member, from the blocks (in any key order, and skipping empty maps).
extent extent_of(const tnumbrelle& set) {
  extent e;
  for (const intset::tblock& block : set.blocks()) {
    int first = -1, last = -1;
    for (int i = 0; i < 32; ++i) {
      if (block.bits[i] == 0) continue;
      e.members += std::popcount(block.bits[i]);
      if (first < 0) first = 8 * i + std::countr_zero(block.bits[i]);
      last = 8 * i + 7 - std::countl_zero(block.bits[i]);
    }
    if (first < 0) continue;
    const auto low = static_cast<std::int32_t>(std::int64_t{block.key} * 256 + first);
    const auto high = static_cast<std::int32_t>(std::int64_t{block.key} * 256 + last);
    if (!e.lowest || low < *e.lowest) e.lowest = low;
    if (!e.highest || high > *e.highest) e.highest = high;
  }
  return e;
}

std::optional<nbl::format> format_option(const std::string& name) {
  if (name.empty()) return std::nullopt;
  return nbl::format_named(name);
}

int run(int argc, char** argv) {
  CLI::App app{
      "Looks into, converts and combines files of 32-bit integer sets: .nbl (the set's own form), "
      ".roaring (the portable Roaring bitmap format) and .txt (decimal integers). A file name - "
      "stands for standard input or output.",
      "nbl"};
  app.set_version_flag("--version", std::string("nbl ") + NUMBRELLE_VERSION);
  app.require_subcommand(1, 1);
  app.footer(
      "Exit status: 0 on success, 1 when a file is missing, damaged or cannot be written, 2 for bad usage.");

  std::string file, in, out, operation, a, b, from, to;
  const auto add_from = [&](CLI::App* command) {
    command->add_option("--from", from, std::string("format of every input: ") + kFormats)
        ->check(CLI::IsMember({"nbl", "roaring", "text"}));
  };
  const auto add_to = [&](CLI::App* command) {
    command->add_option("--to", to, std::string("format of the output: ") + kFormats)
        ->check(CLI::IsMember({"nbl", "roaring", "text"}));
  };

  CLI::App* info = app.add_subcommand(
      "info",
      "Prints the file's format (nbl, nbl-legacy, roaring or text), its member and block counts, and "
      "its lowest and highest member (when it has members), one per line.");
  info->add_option("FILE", file, "the set file")->required();
  add_from(info);

  CLI::App* list = app.add_subcommand("list", "Prints the members in ascending order, one per line.");
  list->add_option("FILE", file, "the set file")->required();
  add_from(list);

  CLI::App* convert =
      app.add_subcommand("convert", "Reads IN in its format and writes the set to OUT in its format.");
  convert->add_option("IN", in, "the set file to read")->required();
  convert->add_option("OUT", out, "the file to write (\"NBL1\" form for .nbl)")->required();
  add_from(convert);
  add_to(convert);

  CLI::App* combine = app.add_subcommand(
      "combine",
      "Writes to OUT the set A combined with B: intersect (members of both), unite (of either), "
      "subtract (of A and not B) or invert (of exactly one).");
  combine->add_option("OPERATION", operation, "intersect, unite, subtract or invert")
      ->required()
      ->check(CLI::IsMember({"intersect", "unite", "subtract", "invert"}));
  combine->add_option("A", a, "the first set file")->required();
  combine->add_option("B", b, "the second set file")->required();
  combine->add_option("OUT", out, "the file to write")->required();
  add_from(combine);
  add_to(combine);

  CLI::App* check = app.add_subcommand(
      "check", "Reads the file; prints ok and exits with 0, or prints what is wrong and exits with 1.");
  check->add_option("FILE", file, "the set file")->required();
  add_from(check);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
    std::cerr << "nbl: " << e.what() << "\nRun nbl --help for more information.\n";
    return 2;
  }

  const std::optional<nbl::format> given_from = format_option(from), given_to = format_option(to);
  if (info->parsed() || list->parsed() || check->parsed()) {
    const nbl::format fmt = nbl::format_of(file, given_from);
    const nbl::loaded_set loaded = nbl::read_set(file, fmt);
    if (check->parsed()) {
      std::cout << "ok\n";
    } else if (list->parsed()) {
      nbl::write_text(loaded.set, std::cout);
    } else {
      const extent e = extent_of(loaded.set);
      std::cout << "format: " << loaded.form << "\nmembers: " << e.members
                << "\nblocks: " << loaded.set.blocks().size() << '\n';
      if (e.lowest) std::cout << "lowest: " << *e.lowest << "\nhighest: " << *e.highest << '\n';
    }
  } else if (convert->parsed()) {
    const nbl::format in_format = nbl::format_of(in, given_from), out_format = nbl::format_of(out, given_to);
    const nbl::loaded_set loaded = nbl::read_set(in, in_format);
    nbl::write_set(loaded.set, out, out_format);
  } else {
    const nbl::format a_format = nbl::format_of(a, given_from), b_format = nbl::format_of(b, given_from);
    const nbl::format out_format = nbl::format_of(out, given_to);
    if (a == "-" && b == "-") throw nbl::usage_error("standard input can be only one of A and B");
    nbl::loaded_set first = nbl::read_set(a, a_format);
    const nbl::loaded_set second = nbl::read_set(b, b_format);
    if (operation == "intersect") {
      first.set.intersect(second.set);
    } else if (operation == "unite") {
      first.set.unite(second.set);
    } else if (operation == "subtract") {
      first.set.subtract(second.set);
    } else {
      first.set.invert(second.set);
    }
    nbl::write_set(first.set, out, out_format);
  }
  std::cout.flush();
  if (!std::cout) throw intset::EWriteError();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  try {
    return run(argc, argv);
  } catch (const nbl::usage_error& e) {
    std::cerr << "nbl: " << e.what() << "\nRun nbl --help for more information.\n";
    return 2;
  } catch (const intset::Exception& e) {
    std::cerr << "nbl: " << e.what() << '\n';
  } catch (const nbl::input_error& e) {
    std::cerr << "nbl: " << e.what() << '\n';
  } catch (const std::bad_alloc&) {
    std::cerr << "nbl: " << intset::EOutOfMemory().what() << '\n';
  }
  return 1;
}
