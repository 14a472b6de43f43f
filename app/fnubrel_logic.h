// The behaviour of the main window without any GUI toolkit: the two sets A and B, the one-step undo of A,
// every button command, and the texts of every view element. It reaches the view only through the pure
// virtual view operations below, which the Qt window implements (and tests implement with a fake view).
#ifndef APP_FNUBREL_LOGIC_H_
#define APP_FNUBREL_LOGIC_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "intset/tnumbrelle.h"

// The view elements the logic writes or reads, named after the window's controls.
enum class view_element {
  lb_set_a,
  lb_set_b,
  st_set_a,
  st_set_b,
  ls_subset,
  ls_superset,
  ls_equality,
  ls_empty_a,
  ls_empty_b
};

// The members of a set as the view receives them: ascending, shared and never changed once made, so that the
// view, the undo snapshots and the logic can hold one array between them.
using member_array = std::shared_ptr<const intset::tarrayofinteger>;

// Text that is not a 32-bit integer was entered.
class EConvertError : public intset::Exception {
 public:
  using intset::Exception::Exception;
};

class fnubrel_logic {
 public:
  virtual ~fnubrel_logic();

  // Window created: both sets and snapshots empty, then the first refresh.
  void FormCreate();
  // Window destroyed: releases both sets and both snapshots. The commands below run only between the two.
  void FormDestroy();

  // Button commands. Include and Invert swallow every error; the others let errors escape to the caller,
  // which shows them. A command refreshes the view only when its operation succeeded.
  void b_empty_aClick();
  void b_empty_bClick();
  void b_include_aClick();
  void b_include_bClick();
  void b_exclude_aClick();
  void b_exclude_bClick();
  void b_invert_aClick();
  void b_invert_bClick();
  void b_undo_aClick();
  void b_assign_abClick();
  void b_assign_baClick();
  void b_intersectionClick();
  void b_unionClick();
  void b_differenceClick();
  void b_load_aClick();
  void b_load_bClick();
  void b_save_aClick();
  void b_save_bClick();
  // Load into A or into B from the file named (UTF-8), as the program's arguments ask, instead of the file
  // chosen in d_open; errors escape as Load's do.
  void load_a_from(const std::string& file);
  void load_b_from(const std::string& file);

 protected:
  // Rewrites both lists and headers and the five status texts, then shifts the undo snapshots.
  void refresh();

  // --- View operations, implemented by the window and by test doubles ---
  // Replaces every item of lb_set_a or lb_set_b by one item per member of `members`, in order, each shown as
  // its decimal text (a leading "-" for negative values, no leading zeros, no grouping).
  virtual void replace_items(view_element list, const member_array& members) = 0;
  // Sets the text of a header or status element.
  virtual void set_text(view_element element, const std::string& text) = 0;
  // The text of the selected item of lb_set_a or lb_set_b, or nullopt when nothing is selected.
  virtual std::optional<std::string> selected_item(view_element list) = 0;
  // A modal prompt titled `caption` showing `text` above an empty input line; nullopt on Cancel.
  virtual std::optional<std::string> prompt(const std::string& caption, const std::string& text) = 0;
  // The full name (UTF-8) of the file chosen in the open dialog d_open; nullopt on cancel.
  virtual std::optional<std::string> choose_open_file() = 0;
  // The full name (UTF-8) of the file chosen in the save dialog d_save; nullopt on cancel.
  virtual std::optional<std::string> choose_save_file() = 0;

  std::unique_ptr<intset::tnumbrelle> set_a, set_b;  // created in FormCreate
  // A's members one refresh ago (the undo source) and at the last refresh, which lb_set_a shows too.
  member_array snap_prev, snap_now;

 private:
  // Fills `list` with `members` and `header` with their number.
  void show_set(view_element list, view_element header, const member_array& members, const char* name);
  // Include or Invert: prompts for an integer and applies `operation` to `set`, then refreshes.
  void prompted_command(intset::tnumbrelle& set, const char* caption,
                        void (intset::tnumbrelle::*operation)(std::int32_t));
  // Exclude: removes the value selected in `list` from `set` and refreshes; nothing without a selection.
  void exclude_selected(view_element list, intset::tnumbrelle& set);
  // Load: replaces `set` by the file chosen in d_open, then refreshes. A file that cannot be read leaves
  // `set`, the view and the snapshots as they were.
  void load_into(intset::tnumbrelle& set);
  // Load's work once the file is known.
  void load_file_into(intset::tnumbrelle& set, const std::string& file);
  // Save: writes `set` to the file chosen in d_save.
  void save_from(const intset::tnumbrelle& set);
};

#endif  // APP_FNUBREL_LOGIC_H_
