#include "app/fnubrel_logic.h"

#include <cstdio>
#include <filesystem>
#include <new>
#include <utility>

#include "app/fnubrel_strings.h"
#include "app/integer_text.h"

using intset::tnumbrelle;

namespace {

constexpr char kHeaderFormat[] = "Set %s  -  %d item%s";
constexpr char kTrue[] = "True";
constexpr char kFalse[] = "False";

const char* truth(bool value) { return value ? kTrue : kFalse; }

std::string header_text(const char* name, std::int32_t count) {
  char text[64];
  std::snprintf(text, sizeof text, kHeaderFormat, name, static_cast<int>(count), count == 1 ? "" : "s");
  return text;
}

// Entered or listed text as an integer; EConvertError quoting the text when it is not one.
std::int32_t to_integer(const std::string& text) {
  if (const auto value = integer_text::parse(text)) return *value;
  std::string message = fnubrel_strings::not_an_integer;
  if (const auto at = message.find("%s"); at != std::string::npos) message.replace(at, 2, text);
  throw EConvertError(std::move(message));
}

// The members of `set`, walked with first() and next(), in an array the view and the snapshots can share.
member_array members_of(tnumbrelle& set) {
  return std::make_shared<const intset::tarrayofinteger>(set.to_array());
}

const member_array& no_members() {
  static const member_array empty = std::make_shared<const intset::tarrayofinteger>();
  return empty;
}

// A file name from the view, which passes names as UTF-8.
std::filesystem::path file_path(const std::string& name) {
  return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

}  // namespace

fnubrel_logic::~fnubrel_logic() = default;

// --- Life cycle -----------------------------------------------------------------------------------------

void fnubrel_logic::FormCreate() {
  try {
    set_a = std::make_unique<tnumbrelle>();
    set_b = std::make_unique<tnumbrelle>();
  } catch (const std::bad_alloc&) {
    throw intset::EOutOfMemory();
  }
  snap_prev = no_members();
  snap_now = no_members();
  refresh();
}

void fnubrel_logic::FormDestroy() {
  set_a.reset();
  set_b.reset();
  snap_prev.reset();
  snap_now.reset();
}

// --- The view -------------------------------------------------------------------------------------------

void fnubrel_logic::refresh() {
  try {
    // A's members double as the next undo snapshot.
    member_array members_a = members_of(*set_a);
    show_set(view_element::lb_set_a, view_element::st_set_a, members_a, "A");
    show_set(view_element::lb_set_b, view_element::st_set_b, members_of(*set_b), "B");
    set_text(view_element::ls_subset, truth(set_a->is_subset_of(*set_b)));
    set_text(view_element::ls_superset, truth(set_a->is_superset_of(*set_b)));
    set_text(view_element::ls_equality, truth(set_a->equals(*set_b)));
    set_text(view_element::ls_empty_a, truth(set_a->is_empty()));
    set_text(view_element::ls_empty_b, truth(set_b->is_empty()));
    // The snapshots shift last, so a failure anywhere before leaves both as they were.
    snap_prev = std::move(snap_now);
    snap_now = std::move(members_a);
  } catch (const std::bad_alloc&) {
    throw intset::EOutOfMemory();
  }
}

void fnubrel_logic::show_set(view_element list, view_element header, const member_array& members,
                             const char* name) {
  replace_items(list, members);
  set_text(header, header_text(name, static_cast<std::int32_t>(members->size())));
}

// --- Commands on one set --------------------------------------------------------------------------------

void fnubrel_logic::b_empty_aClick() {
  set_a->clear();
  refresh();
}

void fnubrel_logic::b_empty_bClick() {
  set_b->clear();
  refresh();
}

void fnubrel_logic::b_include_aClick() {
  prompted_command(*set_a, fnubrel_strings::include_caption, &tnumbrelle::include);
}

void fnubrel_logic::b_include_bClick() {
  prompted_command(*set_b, fnubrel_strings::include_caption, &tnumbrelle::include);
}

void fnubrel_logic::b_exclude_aClick() { exclude_selected(view_element::lb_set_a, *set_a); }

void fnubrel_logic::b_exclude_bClick() { exclude_selected(view_element::lb_set_b, *set_b); }

void fnubrel_logic::b_invert_aClick() {
  prompted_command(*set_a, fnubrel_strings::invert_caption, &tnumbrelle::invert);
}

void fnubrel_logic::b_invert_bClick() {
  prompted_command(*set_b, fnubrel_strings::invert_caption, &tnumbrelle::invert);
}

// A goes back to the members it had one refresh ago; the refresh then keeps the replaced members as the
// next undo source, so a second Undo swaps back.
void fnubrel_logic::b_undo_aClick() {
  set_a->clear();
  set_a->include_array(*snap_prev);
  refresh();
}

// Errors of the conversion, the operation and the refresh are dropped without a word; a cancelled prompt
// or a failure before the refresh leaves the view as it was.
void fnubrel_logic::prompted_command(tnumbrelle& set, const char* caption,
                                     void (tnumbrelle::*operation)(std::int32_t)) {
  const auto text = prompt(caption, fnubrel_strings::enter_integer);
  if (!text) return;
  try {
    (set.*operation)(to_integer(*text));
    refresh();
  } catch (...) {
  }
}

void fnubrel_logic::exclude_selected(view_element list, tnumbrelle& set) {
  const auto item = selected_item(list);
  if (!item) return;
  set.exclude(to_integer(*item));
  refresh();
}

// --- Commands on both sets ------------------------------------------------------------------------------

void fnubrel_logic::b_assign_abClick() {
  set_b->assign(*set_a);
  refresh();
}

void fnubrel_logic::b_assign_baClick() {
  set_a->assign(*set_b);
  refresh();
}

void fnubrel_logic::b_intersectionClick() {
  set_a->intersect(*set_b);
  refresh();
}

void fnubrel_logic::b_unionClick() {
  set_a->unite(*set_b);
  refresh();
}

void fnubrel_logic::b_differenceClick() {
  set_a->subtract(*set_b);
  refresh();
}

// --- Files ----------------------------------------------------------------------------------------------

void fnubrel_logic::b_load_aClick() { load_into(*set_a); }

void fnubrel_logic::b_load_bClick() { load_into(*set_b); }

void fnubrel_logic::b_save_aClick() { save_from(*set_a); }

void fnubrel_logic::b_save_bClick() { save_from(*set_b); }

void fnubrel_logic::load_a_from(const std::string& file) { load_file_into(*set_a, file); }

void fnubrel_logic::load_b_from(const std::string& file) { load_file_into(*set_b, file); }

void fnubrel_logic::load_into(tnumbrelle& set) {
  if (const auto file = choose_open_file()) load_file_into(set, *file);
}

// The file is read into a set of its own, which takes the place of `set` only once it loaded: a file that
// cannot be opened or read leaves what the window shows true, so that a Save afterwards writes those members.
void fnubrel_logic::load_file_into(tnumbrelle& set, const std::string& file) {
  tnumbrelle loaded;
  loaded.load_from_file(file_path(file));
  set = std::move(loaded);
  refresh();
}

// No refresh: saving changes nothing that is shown, and the undo snapshots stay where they are.
void fnubrel_logic::save_from(const tnumbrelle& set) {
  const auto file = choose_save_file();
  if (!file) return;
  set.save_to_file(file_path(*file));
}
