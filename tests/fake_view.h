// A view for driving fnubrel_logic in tests. It keeps what a window would show (the items of both lists,
// the text of every header and status element, the selection), records every view call in order, and
// answers prompts and file dialogs from scripted queues. Any question it was not scripted to answer is a
// test failure.
#ifndef TESTS_FAKE_VIEW_H_
#define TESTS_FAKE_VIEW_H_

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/fnubrel_logic.h"

namespace testing_helpers {

class fake_view : public fnubrel_logic {
 public:
  // One call of a view operation. `items` is filled for replace_items, `text` for the others (for prompt,
  // the caption and the prompt text joined by "|").
  struct call {
    std::string operation;
    std::optional<view_element> element;
    std::vector<std::string> items;
    std::string text;
    bool operator==(const call&) const = default;
  };

  using fnubrel_logic::refresh;

  // --- Script ---
  std::deque<std::optional<std::string>> prompt_answers;  // nullopt stands for Cancel
  std::deque<std::optional<std::string>> open_answers;
  std::deque<std::optional<std::string>> save_answers;
  // When set, selected_item answers this instead of the selected item of the list.
  std::optional<std::string> forced_selection;
  // Runs at the start of every replace_items and set_text, so a test can make the view fail there.
  std::function<void(view_element)> before_write;

  // --- What the window would show ---
  std::map<view_element, std::vector<std::string>> lists;
  std::map<view_element, std::string> texts;
  std::vector<call> calls;

  // Refreshes started so far: every refresh begins by replacing the items of lb_set_a, and nothing else does.
  int refreshes() const {
    int n = 0;
    for (const call& c : calls) n += c.operation == "replace_items" && c.element == view_element::lb_set_a;
    return n;
  }

  // Selects the item with `text` in `list`, as a click on it would.
  void select(view_element list, const std::string& text) {
    const auto& items = lists[list];
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (items[i] == text) {
        selection[list] = i;
        return;
      }
    }
    ADD_FAILURE() << "no item \"" << text << "\" to select";
  }
  void select_index(view_element list, std::size_t index) { selection[list] = index; }

  // Every question scripted for the last command was asked.
  bool script_used_up() const {
    return prompt_answers.empty() && open_answers.empty() && save_answers.empty();
  }

  // --- Inside views of the logic's state ---
  const intset::tarrayofinteger& undo_source() const { return *snap_prev; }
  const intset::tarrayofinteger& last_shown_a() const { return *snap_now; }
  bool snapshots_released() const { return !snap_prev && !snap_now; }
  const intset::tnumbrelle* a() const { return set_a.get(); }
  const intset::tnumbrelle* b() const { return set_b.get(); }

 protected:
  void replace_items(view_element list, const member_array& members) override {
    if (before_write) before_write(list);
    std::vector<std::string> items;
    for (const std::int32_t value : *members) items.push_back(std::to_string(value));
    calls.push_back({"replace_items", list, items, {}});
    lists[list] = items;
    selection.erase(list);  // refilling a list box drops its selection
  }

  void set_text(view_element element, const std::string& text) override {
    if (before_write) before_write(element);
    calls.push_back({"set_text", element, {}, text});
    texts[element] = text;
  }

  std::optional<std::string> selected_item(view_element list) override {
    calls.push_back({"selected_item", list, {}, {}});
    if (forced_selection) return forced_selection;
    const auto at = selection.find(list);
    if (at == selection.end()) return std::nullopt;
    return lists[list].at(at->second);
  }

  std::optional<std::string> prompt(const std::string& caption, const std::string& text) override {
    calls.push_back({"prompt", std::nullopt, {}, caption + "|" + text});
    return answer(prompt_answers, "prompt");
  }

  std::optional<std::string> choose_open_file() override {
    calls.push_back({"choose_open_file", std::nullopt, {}, {}});
    return answer(open_answers, "open dialog");
  }

  std::optional<std::string> choose_save_file() override {
    calls.push_back({"choose_save_file", std::nullopt, {}, {}});
    return answer(save_answers, "save dialog");
  }

 private:
  static std::optional<std::string> answer(std::deque<std::optional<std::string>>& queue, const char* what) {
    if (queue.empty()) {
      ADD_FAILURE() << "unscripted " << what;
      return std::nullopt;
    }
    auto next = std::move(queue.front());
    queue.pop_front();
    return next;
  }

  std::map<view_element, std::size_t> selection;
};

}  // namespace testing_helpers

#endif  // TESTS_FAKE_VIEW_H_
