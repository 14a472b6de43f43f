// nbl: looks into, lists, converts, combines and checks set files from the shell.
//
// Exit status: 0 on success, 1 when a file is missing, damaged or cannot be written, 2 for bad usage.
// Errors go to standard error as "nbl: <file>: <message>" ("nbl: <message>" for bad usage). Every input is
// read whole before anything is written.
#include <CLI/CLI.hpp>
#include <bit>
#include <cstdint>
#include <exception>
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

// What the command line asks for, once parsed.
struct request {
  std::string file, in, out, operation, a, b, from, to;
  std::int32_t max_blocks = 0;
  bool limited = false;  // whether --max-blocks was given
};

// How every input of a command is read: its format (unless taken from the extension) and the block limit.
struct reading {
  std::optional<nbl::format> from;
  std::optional<std::int32_t> max_blocks;

  nbl::format format_of(const std::string& file) const { return nbl::format_of(file, from); }
  nbl::loaded_set read(const std::string& file, nbl::format fmt) const {
    return nbl::read_set(file, fmt, max_blocks);
  }
  nbl::loaded_set read(const std::string& file) const { return read(file, format_of(file)); }
};

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

void run_info(const request& r, const reading& how) {
  const nbl::loaded_set loaded = how.read(r.file);
  const extent e = extent_of(loaded.set);
  std::cout << "format: " << loaded.form << "\nmembers: " << e.members
            << "\nblocks: " << loaded.set.blocks().size() << '\n';
  if (e.lowest) std::cout << "lowest: " << *e.lowest << "\nhighest: " << *e.highest << '\n';
  if (!nbl::keys_rise(loaded.set)) std::cout << "keys: out of order\n";
}

void run_list(const request& r, const reading& how) {
  nbl::write_set(how.read(r.file).set, "-", nbl::format::text);
}

void run_check(const request& r, const reading& how) {
  nbl::require_rising_keys(how.read(r.file), r.file);
  std::cout << "ok\n";
}

void run_convert(const request& r, const reading& how) {
  const nbl::format in_format = how.format_of(r.in), out_format = nbl::format_of(r.out, format_option(r.to));
  const nbl::loaded_set loaded = how.read(r.in, in_format);
  if (out_format != nbl::format::text) nbl::require_rising_keys(loaded, r.in);
  nbl::write_set(loaded.set, r.out, out_format);
}

void run_combine(const request& r, const reading& how) {
  const nbl::format a_format = how.format_of(r.a), b_format = how.format_of(r.b);
  const nbl::format out_format = nbl::format_of(r.out, format_option(r.to));
  if (r.a == "-" && r.b == "-") throw nbl::usage_error("standard input can be only one of A and B");
  nbl::loaded_set first = how.read(r.a, a_format);
  nbl::require_rising_keys(first, r.a);
  const nbl::loaded_set second = how.read(r.b, b_format);
  nbl::require_rising_keys(second, r.b);
  if (r.operation == "intersect") {
    first.set.intersect(second.set);
  } else if (r.operation == "unite") {
    first.set.unite(second.set);
  } else if (r.operation == "subtract") {
    first.set.subtract(second.set);
  } else {
    first.set.invert(second.set);
  }
  nbl::write_set(first.set, r.out, out_format);
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
      "Exit status: 0 on success, 1 when a file is missing, damaged or cannot be written, 2 for bad usage. "
      "Errors name the file they are about. Bytes already written to standard output before a failure stay "
      "there.");

  request r;
  const auto add_reading = [&r](CLI::App* command) {
    command->add_option("--from", r.from, std::string("format of every input: ") + kFormats)
        ->check(CLI::IsMember({"nbl", "roaring", "text"}));
    command
        ->add_option("--max-blocks", r.max_blocks,
                     "refuse an input whose set would take more than this many 256-value blocks (36 bytes "
                     "each); no limit by default")
        ->check(CLI::Range(0, std::numeric_limits<std::int32_t>::max()))
        ->each([&r](const std::string&) { r.limited = true; });
  };
  const auto add_to = [&r](CLI::App* command) {
    command->add_option("--to", r.to, std::string("format of the output: ") + kFormats)
        ->check(CLI::IsMember({"nbl", "roaring", "text"}));
  };

  CLI::App* info = app.add_subcommand(
      "info",
      "Prints the file's format (nbl, nbl-legacy, roaring or text), its member and block counts, and "
      "its lowest and highest member (when it has members), one per line; then keys: out of order for a "
      "damaged legacy-form file whose block keys do not rise.");
  info->add_option("FILE", r.file, "the set file")->required();
  add_reading(info);

  CLI::App* list = app.add_subcommand("list", "Prints the members in ascending order, one per line.");
  list->add_option("FILE", r.file, "the set file")->required();
  add_reading(list);

  CLI::App* convert =
      app.add_subcommand("convert", "Reads IN in its format and writes the set to OUT in its format.");
  convert->add_option("IN", r.in, "the set file to read")->required();
  convert->add_option("OUT", r.out, "the file to write (\"NBL1\" form for .nbl)")->required();
  add_reading(convert);
  add_to(convert);

  CLI::App* combine = app.add_subcommand(
      "combine",
      "Writes to OUT the set A combined with B: intersect (members of both), unite (of either), "
      "subtract (of A and not B) or invert (of exactly one).");
  combine->add_option("OPERATION", r.operation, "intersect, unite, subtract or invert")
      ->required()
      ->check(CLI::IsMember({"intersect", "unite", "subtract", "invert"}));
  combine->add_option("A", r.a, "the first set file")->required();
  combine->add_option("B", r.b, "the second set file")->required();
  combine->add_option("OUT", r.out, "the file to write")->required();
  add_reading(combine);
  add_to(combine);

  CLI::App* check = app.add_subcommand(
      "check",
      "Reads the file; prints ok and exits with 0, or prints what is wrong and exits with 1. It fails on "
      "every input that convert or combine would refuse.");
  check->add_option("FILE", r.file, "the set file")->required();
  add_reading(check);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
    std::cerr << "nbl: " << e.what() << "\nRun nbl --help for more information.\n";
    return 2;
  }

  reading how{format_option(r.from), std::nullopt};
  if (r.limited) how.max_blocks = r.max_blocks;
  if (info->parsed()) {
    run_info(r, how);
  } else if (list->parsed()) {
    run_list(r, how);
  } else if (check->parsed()) {
    run_check(r, how);
  } else if (convert->parsed()) {
    run_convert(r, how);
  } else {
    run_combine(r, how);
  }
  nbl::finish_standard_output();
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
  } catch (const nbl::file_error& e) {
    std::cerr << "nbl: " << e.what() << '\n';
  } catch (const std::bad_alloc&) {
    std::cerr << "nbl: " << intset::EOutOfMemory().what() << '\n';
  } catch (const std::exception& e) {  // anything else, rather than an abort
    std::cerr << "nbl: " << e.what() << '\n';
  }
  return 1;
}
