#include "help_text.h"

namespace nbl {

namespace {

constexpr const char* kReading =
    "Each input's format is found from its first bytes: \"NBL1\" starts the set's own nbl form, a Roaring "
    "cookie the portable Roaring bitmap format, and a size of exactly 4 + 36 times the count an input starts "
    "with the older nbl form; anything else is read as text: integers, ranges a..b and # comments (see nbl "
    "--help). --from names one format for every input instead. A file name - stands for standard input, at "
    "most once in a command.";

constexpr const char* kStatus =
    "Exit status: 0 on success, 1 when a file is missing, damaged, refused or cannot be written, 2 for bad "
    "usage.";

constexpr const char* kWriting =
    "The output's format comes from --to, else from its extension (.nbl, .roaring or .txt, in any case); "
    "standard output gets text. A binary format is not written to a terminal unless -f is given.";

// The reading paragraph without its pointer to the main help, for the main help itself.
std::string without_pointer(std::string text) {
  const std::string pointer = " (see nbl --help)";
  text.erase(text.find(pointer), pointer.size());
  return text;
}

std::string operation_footer(const std::string& operation, const std::string& example) {
  return std::string(kReading) + "\n\n" + kWriting + " nbl combine " + operation +
         " A B OUT is the form with two inputs and the output named last.\n\n" + kStatus + "\n\nExample:\n" +
         example;
}

}  // namespace

const help_text kMainHelp{
    "",
    "nbl: a set calculator for the shell. It reads sets of 32-bit signed integers from files or standard "
    "input in three formats, found from each input's first bytes: the set's own nbl form (.nbl), the "
    "portable Roaring bitmap format (.roaring) and text (.txt), and lists, converts, combines, compares and "
    "counts them.",
    without_pointer(kReading) +
        "\n\nText: decimal integers from -2147483648 to 2147483647, with an optional sign, separated by any "
        "whitespace; a..b stands for every integer from a to b; # starts a comment that runs to the end of "
        "the line; a UTF-8 byte-order mark at the start is skipped.\n\n" +
        kWriting +
        " Every input is read whole before anything is written, and an existing file is replaced only once "
        "the new one is complete.\n\n"
        "Exit status: 0 on success; 1 when a file is missing, damaged, refused (--max-blocks) or cannot be "
        "written; 2 for bad usage. compare --is exits with 0 when the relation holds, 1 when it does not, "
        "and 2 on any trouble, as cmp -s and test do. Errors go to standard error as \"nbl: FILE: "
        "Message\".\n\n"
        "Environment: INTSET_CPU=portable makes the library use its portable code only.\n\n"
        "Run nbl SUBCOMMAND --help, or nbl help SUBCOMMAND, for each subcommand's options.\n\n"
        "Examples:\n"
        "  $ seq 1 10 | nbl subtract - <(seq 2 2 10) -o odd.nbl\n"
        "  $ nbl list --ranges odd.nbl\n"
        "  $ nbl unite a.nbl b.roaring c.txt -o all.roaring\n"
        "  $ if nbl compare --is subset odd.nbl all.roaring; then echo contained; fi\n"
        "  $ nbl count *.nbl"};

const help_text kInfoHelp{
    "Print a set's format, member and block counts, and lowest and highest member",
    "Prints the file's format (nbl, nbl-legacy, roaring or text), its member and block counts, and its "
    "lowest and highest member (when it has members), one per line; then keys: out of order for a damaged "
    "legacy-form file whose block keys do not rise. A file in the nbl form is read record by record, "
    "without building the set.",
    std::string(kReading) + "\n\n" + kStatus +
        "\n\nExample:\n  $ nbl info ids.nbl\n  format: nbl\n  members: 3\n  blocks: 2\n"
        "  lowest: -5\n  highest: 1000"};

const help_text kListHelp{
    "Print the members in ascending order, one per line",
    "Prints the members in ascending order, one per line; with --ranges each run of three or more "
    "consecutive members as a..b, which reads back as the same set.",
    std::string(kReading) + "\n\n" + kStatus + "\n\nExample:\n  $ seq 1 5 | nbl list --ranges -\n  1..5"};

const help_text kCountHelp{
    "Print each set's member count",
    "Prints each set's member count as \"N FILE\", one line per file (N alone for a single -). A file in "
    "the nbl form is counted from its block records without building the set. A file that cannot be read "
    "is reported and the others are counted; the exit status is then 1.",
    std::string(kReading) + "\n\n" + kStatus +
        "\n\nExample:\n  $ nbl count a.nbl <(seq 3)\n  5 a.nbl\n  3 /dev/fd/63"};

const help_text kCheckHelp{
    "Check that a file holds a set that can be combined and written",
    "Reads the file; prints ok and exits with 0, or prints what is wrong and exits with 1. It fails on "
    "every input that convert, combine or compare would refuse.",
    std::string(kReading) + "\n\n" + kStatus +
        "\n\nExample:\n  $ nbl check download.roaring --max-blocks 100000\n  ok"};

const help_text kConvertHelp{"Read a set and write it in another format",
                             "Reads IN and writes the set to OUT (- for standard output).",
                             std::string(kReading) + "\n\n" + kWriting + "\n\n" + kStatus +
                                 "\n\nExamples:\n  $ nbl convert ids.roaring ids.nbl --max-blocks 1000000\n"
                                 "  $ nbl convert ids.nbl - --to roaring > ids.roaring"};

const help_text kCombineHelp{
    "Combine two sets and write the result to OUT",
    "Writes to OUT the set A combined with B: intersect (members of both), unite (of either), subtract (of "
    "A and not B) or invert (of exactly one). The two-input form of unite, intersect, subtract and invert.",
    std::string(kReading) + "\n\n" + kWriting + "\n\n" + kStatus +
        "\n\nExample:\n  $ seq 1 5 | nbl combine subtract ids.txt - odd.roaring"};

const help_text kCompareHelp{
    "Print how two sets relate, or test one relation",
    "Prints the relation of A to B: equal, subset, superset, disjoint or overlap, the first that holds in "
    "that order (two empty sets are equal), and exits with 0. With --is RELATION (equal, subset, superset "
    "or disjoint) prints nothing and exits with 0 when the relation holds, 1 when it does not, and 2 on any "
    "trouble (bad usage, a missing or damaged file), as cmp -s and test do; subset and superset include "
    "equal sets.",
    std::string(kReading) +
        "\n\nExamples:\n  $ nbl compare a.nbl <(seq 1 5)\n  overlap\n"
        "  $ if nbl compare --is subset new.txt all.nbl; then echo contained; fi"};

const help_text kHelpHelp{"Print this help, or a subcommand's",
                          "Prints nbl's help, or SUBCOMMAND's, as nbl --help and nbl SUBCOMMAND --help do.",
                          "Examples:\n  $ nbl help\n  $ nbl help compare"};

const help_text kVersionHelp{"Print the version", "Prints nbl's version, as nbl --version does.",
                             "Example:\n  $ nbl version\n  nbl " NUMBRELLE_VERSION};

help_text operation_help(const std::string& operation) {
  if (operation == "unite")
    return {"Write the members of any of the sets", "Writes the members of any of the inputs.",
            operation_footer(operation, "  $ nbl unite a.nbl b.roaring <(seq 100 200) -o all.nbl")};
  if (operation == "intersect")
    return {"Write the members of all of the sets", "Writes the members of all of the inputs.",
            operation_footer(operation, "  $ nbl intersect a.nbl b.nbl c.nbl --to nbl > common.nbl")};
  if (operation == "subtract")
    return {"Write the members of the first set that are in none of the others",
            "Writes the members of the first input that are in none of the others.",
            operation_footer(operation, "  $ seq 1 100 | nbl subtract - seen.nbl")};
  return {"Write the members of an odd number of the sets",
          "Writes the members of an odd number of the inputs (of exactly one of two).",
          operation_footer(operation, "  $ nbl invert a.txt b.txt")};
}

}  // namespace nbl
