#include "commands.h"

#include <algorithm>
#include <iostream>

#include "errors.h"
#include "set_output.h"

namespace nbl {

namespace {

read_options reading(const request& r) { return {r.from, r.max_blocks}; }

loaded_set read_operand(const std::string& file_name, const request& r) {
  loaded_set loaded = read_set(file_name, reading(r));
  require_rising_keys(keys_rise(loaded.set), file_name);
  return loaded;
}

void require_one_standard_input(const std::vector<std::string>& files) {
  if (std::count(files.begin(), files.end(), "-") > 1)
    throw usage_error("standard input (-) can be only one of the inputs");
}

}  // namespace

int run_info(const request& r) {
  const set_summary s = summarize(r.files.at(0), reading(r));
  std::ostream& out = standard_output();
  out << "format: " << s.form << "\nmembers: " << s.members << "\nblocks: " << s.blocks << '\n';
  if (s.lowest) out << "lowest: " << *s.lowest << "\nhighest: " << *s.highest << '\n';
  if (!s.keys_rise) out << "keys: out of order\n";
  return 0;
}

int run_list(const request& r) {
  write_set(read_set(r.files.at(0), reading(r)).set, "-", {format::text, r.ranges, false});
  return 0;
}

// One line per operand, and on through the operands after one that fails, as wc goes on.
int run_count(const request& r) {
  require_one_standard_input(r.files);
  const bool alone = r.files.size() == 1 && r.files[0] == "-";
  int status = 0;
  for (const std::string& file : r.files) {
    try {
      const set_summary s = summarize(file, reading(r));
      standard_output() << s.members;
      if (!alone) standard_output() << ' ' << file;
      standard_output() << '\n';
    } catch (const file_error& e) {
      finish_standard_output();
      std::cerr << "nbl: " << e.what() << '\n';
      status = 1;
    }
  }
  return status;
}

int run_check(const request& r) {
  require_rising_keys(summarize(r.files.at(0), reading(r)).keys_rise, r.files.at(0));
  standard_output() << "ok\n";
  return 0;
}

int run_convert(const request& r) {
  const format out_format = output_format(r.out, r.to);
  const loaded_set loaded = read_set(r.files.at(0), reading(r));
  if (out_format != format::text) require_rising_keys(keys_rise(loaded.set), r.files.at(0));
  write_set(loaded.set, r.out, {out_format, false, r.force});
  return 0;
}

int run_combine(const request& r) {
  require_one_standard_input(r.files);
  const format out_format = output_format(r.out, r.to);
  intset::tnumbrelle result = read_operand(r.files.at(0), r).set;
  for (std::size_t i = 1; i < r.files.size(); ++i) {
    const intset::tnumbrelle next = read_operand(r.files[i], r).set;
    if (r.operation == "intersect") {
      result.intersect(next);
    } else if (r.operation == "unite") {
      result.unite(next);
    } else if (r.operation == "subtract") {
      result.subtract(next);
    } else {
      result.invert(next);
    }
  }
  write_set(result, r.out, {out_format, false, r.force});
  return 0;
}

int run_compare(const request& r) {
  require_one_standard_input(r.files);
  const intset::tnumbrelle a = read_operand(r.files.at(0), r).set, b = read_operand(r.files.at(1), r).set;
  const bool subset = a.is_subset_of(b), superset = b.is_subset_of(a), disjoint = !a.intersects(b);
  if (!r.relation.empty()) {
    const bool holds = r.relation == "equal"      ? subset && superset
                       : r.relation == "subset"   ? subset
                       : r.relation == "superset" ? superset
                                                  : disjoint;
    return holds ? 0 : 1;
  }
  const bool holds[] = {subset && superset, subset, superset, disjoint, true};
  const auto first = static_cast<std::size_t>(std::find(std::begin(holds), std::end(holds), true) - holds);
  standard_output() << kRelations[first] << '\n';
  return 0;
}

}  // namespace nbl
