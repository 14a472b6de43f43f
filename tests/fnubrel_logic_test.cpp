// The window logic driven through a fake view: the texts it shows, the commands, the conversion of entered
// text, the undo of A, failures, and the file commands.
#include "app/fnubrel_logic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <map>
#include <new>
#include <optional>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "fake_view.h"

namespace {

using testing_helpers::fake_view;
using V = view_element;
using items = std::vector<std::string>;

// A logic after FormCreate, with helpers that run one command with its scripted answers.
class Demo : public ::testing::Test {
 protected:
  void SetUp() override { view.FormCreate(); }

  void include_a(const std::string& text) {
    view.prompt_answers.push_back(text);
    view.b_include_aClick();
  }
  void include_b(const std::string& text) {
    view.prompt_answers.push_back(text);
    view.b_include_bClick();
  }
  void invert_a(const std::string& text) {
    view.prompt_answers.push_back(text);
    view.b_invert_aClick();
  }
  void invert_b(const std::string& text) {
    view.prompt_answers.push_back(text);
    view.b_invert_bClick();
  }
  void fill_a(std::initializer_list<const char*> texts) {
    for (const char* t : texts) include_a(t);
  }
  void fill_b(std::initializer_list<const char*> texts) {
    for (const char* t : texts) include_b(t);
  }

  const items& list(V element) { return view.lists[element]; }
  const std::string& text(V element) { return view.texts[element]; }
  // The five status texts in view order: subset, superset, equality, A empty, B empty.
  items status() {
    return {text(V::ls_subset), text(V::ls_superset), text(V::ls_equality), text(V::ls_empty_a),
            text(V::ls_empty_b)};
  }

  fake_view view;
};

// The suites, by behaviour.
class DemoView : public Demo {};
class DemoEntry : public Demo {};
class DemoExclude : public Demo {};
class DemoCommands : public Demo {};
class DemoUndo : public Demo {};
class DemoFailure : public Demo {};

// --- The first refresh and the order of the view's texts ---------------------------------------------------

TEST_F(DemoView, FirstRefreshShowsTwoEmptySetsAndEveryStatusTrue) {
  EXPECT_EQ(view.refreshes(), 1);
  EXPECT_EQ(list(V::lb_set_a), items{});
  EXPECT_EQ(list(V::lb_set_b), items{});
  EXPECT_EQ(text(V::st_set_a), "Set A  -  0 items");
  EXPECT_EQ(text(V::st_set_b), "Set B  -  0 items");
  EXPECT_EQ(status(), (items{"True", "True", "True", "True", "True"}));
}

TEST_F(DemoView, RefreshWritesListsAndHeadersThenTheFiveStatusTexts) {
  fill_a({"2"});
  view.calls.clear();
  view.refresh();
  std::vector<fake_view::call> expected = {
      {"replace_items", V::lb_set_a, {"2"}, {}}, {"set_text", V::st_set_a, {}, "Set A  -  1 item"},
      {"replace_items", V::lb_set_b, {}, {}},    {"set_text", V::st_set_b, {}, "Set B  -  0 items"},
      {"set_text", V::ls_subset, {}, "False"},   {"set_text", V::ls_superset, {}, "True"},
      {"set_text", V::ls_equality, {}, "False"}, {"set_text", V::ls_empty_a, {}, "False"},
      {"set_text", V::ls_empty_b, {}, "True"},
  };
  EXPECT_EQ(view.calls, expected);
}

// --- Headers and lists -------------------------------------------------------------------------------------

TEST_F(DemoView, HeaderIsSingularForExactlyOneMemberAndPluralOtherwise) {
  include_a("12");
  include_a("12");
  EXPECT_EQ(list(V::lb_set_a), items{"12"});
  EXPECT_EQ(text(V::st_set_a), "Set A  -  1 item");
  include_a("13");
  EXPECT_EQ(text(V::st_set_a), "Set A  -  2 items");
  for (int v = 0; v < 12; ++v) include_b(std::to_string(v));
  EXPECT_EQ(text(V::st_set_b), "Set B  -  12 items");
  include_b("-1");
  EXPECT_EQ(text(V::st_set_b), "Set B  -  13 items");
}

TEST_F(DemoView, ListsAscendWithNegativesFirstWhateverTheInclusionOrder) {
  fill_a({"300", "-3", "2147483647", "0", "-2147483648", "255", "256", "-256", "-257", "5"});
  EXPECT_EQ(list(V::lb_set_a),
            (items{"-2147483648", "-257", "-256", "-3", "0", "5", "255", "256", "300", "2147483647"}));
  EXPECT_EQ(text(V::st_set_a), "Set A  -  10 items");
}

// --- Entered integers --------------------------------------------------------------------------------------

struct accepted_text {
  const char* text;
  std::int32_t value;
};

TEST_F(DemoEntry, IncludeAcceptsEveryDecimalAndHexadecimalForm) {
  const accepted_text cases[] = {
      {"12", 12},
      {" -5", -5},
      {"    7", 7},
      {"+7", 7},
      {"-0", 0},
      {"0", 0},
      {"007", 7},
      {"-000000000000000000002147483648", INT32_MIN},
      {"-2147483648", INT32_MIN},
      {"2147483647", INT32_MAX},
      {"+2147483647", INT32_MAX},
      {"$1F", 31},
      {"$1f", 31},
      {"x1F", 31},
      {"X1f", 31},
      {"0x10", 16},
      {"0X10", 16},
      {"$FFFFFFFF", -1},
      {"$80000000", INT32_MIN},
      {"$7FFFFFFF", INT32_MAX},
      {"$0000000000FF", 255},
      {"-$10", -16},
      {"+$10", 16},
      {"-0x1", -1},
      {"-$FFFFFFFF", 1},
      {"-$80000000", INT32_MIN},
      {"  -X0", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    fake_view fresh;
    fresh.FormCreate();
    fresh.prompt_answers.push_back(c.text);
    fresh.b_include_aClick();
    EXPECT_EQ(fresh.lists[V::lb_set_a], items{std::to_string(c.value)});
    EXPECT_EQ(fresh.refreshes(), 2);
  }
}

TEST_F(DemoEntry, TextThatIsNoIntegerChangesAndShowsNothing) {
  const std::string cases[] = {"abc",
                               "",
                               " ",
                               "1.5",
                               "2147483648",
                               "-2147483649",
                               "99999999999999999999",
                               "5 ",
                               "- 5",
                               "+-5",
                               "--5",
                               "\t5",
                               "\n5",
                               "5a",
                               "1e3",
                               "0b1",
                               "+",
                               "-",
                               "$",
                               "x",
                               "0x",
                               "$ 1",
                               "$-1",
                               "0x-1",
                               "$100000000",
                               "-$100000000",
                               "0xG",
                               "00x10",
                               "$$1",
                               std::string("5\0", 2),
                               "\xEF\xBC\x95" /* fullwidth 5 */,
                               "\xFF"};
  for (const auto& t : cases) {
    SCOPED_TRACE("\"" + t + "\"");
    view.calls.clear();
    include_a(t);
    invert_b(t);
    EXPECT_EQ(view.refreshes(), 0);
    EXPECT_EQ(view.calls.size(), 2u) << "only the two prompts";
    EXPECT_TRUE(view.a()->is_empty());
    EXPECT_TRUE(view.b()->is_empty());
  }
}

TEST_F(DemoEntry, PromptsAskWithTheCommandsCaptionForAnInteger) {
  view.calls.clear();
  view.prompt_answers = {std::nullopt, std::nullopt, std::nullopt, std::nullopt};
  view.b_include_aClick();
  view.b_include_bClick();
  view.b_invert_aClick();
  view.b_invert_bClick();
  std::vector<std::string> shown;
  for (const auto& c : view.calls) shown.push_back(c.operation + ":" + c.text);
  EXPECT_EQ(shown, (items{"prompt:Include|Enter integer:", "prompt:Include|Enter integer:",
                          "prompt:Invert|Enter integer:", "prompt:Invert|Enter integer:"}));
}

TEST_F(DemoEntry, CancelledPromptChangesNothingAndDoesNotRefresh) {
  fill_a({"4"});
  const int before = view.refreshes();
  view.prompt_answers = {std::nullopt, std::nullopt};
  view.b_include_aClick();
  view.b_invert_aClick();
  EXPECT_EQ(view.refreshes(), before);
  EXPECT_EQ(view.undo_source(), intset::tarrayofinteger{});  // no refresh, so the snapshots stayed
  EXPECT_EQ(list(V::lb_set_a), items{"4"});
}

// --- Include, Invert, Exclude, Empty on each set -----------------------------------------------------------

TEST_F(DemoEntry, InvertAddsAnAbsentValueAndRemovesAPresentOne) {
  invert_a("9");
  invert_b("-9");
  EXPECT_EQ(list(V::lb_set_a), items{"9"});
  EXPECT_EQ(list(V::lb_set_b), items{"-9"});
  invert_a("$9");
  invert_b("-9");
  EXPECT_EQ(list(V::lb_set_a), items{});
  EXPECT_EQ(list(V::lb_set_b), items{});
  EXPECT_EQ(view.refreshes(), 5);
}

TEST_F(DemoExclude, RemovesTheSelectedItemAndRefreshes) {
  fill_a({"-2147483648", "1", "2"});
  fill_b({"1", "2147483647"});
  const int before = view.refreshes();
  view.select(V::lb_set_a, "-2147483648");
  view.b_exclude_aClick();
  view.select(V::lb_set_b, "2147483647");
  view.b_exclude_bClick();
  EXPECT_EQ(list(V::lb_set_a), (items{"1", "2"}));
  EXPECT_EQ(list(V::lb_set_b), items{"1"});
  EXPECT_EQ(view.refreshes(), before + 2);
}

TEST_F(DemoExclude, WithoutSelectionDoesNothingNotEvenARefresh) {
  fill_a({"1"});
  fill_b({"2"});
  const int before = view.refreshes();
  view.b_exclude_aClick();
  view.b_exclude_bClick();
  EXPECT_EQ(view.refreshes(), before);
  EXPECT_EQ(list(V::lb_set_a), items{"1"});
  EXPECT_EQ(list(V::lb_set_b), items{"2"});
}

TEST_F(DemoExclude, NeedsANewSelectionAfterEveryRefresh) {
  fill_a({"1", "2"});
  view.select(V::lb_set_a, "1");
  view.b_exclude_aClick();
  const int before = view.refreshes();
  view.b_exclude_aClick();
  EXPECT_EQ(view.refreshes(), before);
  EXPECT_EQ(list(V::lb_set_a), items{"2"});
}

TEST_F(DemoExclude, UnreadableSelectionRaisesConvertErrorQuotingTheText) {
  fill_a({"1"});
  const int before = view.refreshes();
  view.forced_selection = "1 ";
  try {
    view.b_exclude_aClick();
    FAIL() << "no error";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.message(), "\"1 \" is not a valid integer value");
  }
  EXPECT_EQ(view.refreshes(), before);
  EXPECT_EQ(view.a()->count(), 1);
}

TEST_F(DemoCommands, EmptyClearsOnlyItsOwnSet) {
  fill_a({"1", "2"});
  fill_b({"3"});
  view.b_empty_aClick();
  EXPECT_EQ(list(V::lb_set_a), items{});
  EXPECT_EQ(list(V::lb_set_b), items{"3"});
  EXPECT_EQ(text(V::ls_empty_a), "True");
  view.b_empty_bClick();
  EXPECT_EQ(text(V::st_set_b), "Set B  -  0 items");
  EXPECT_EQ(status(), (items{"True", "True", "True", "True", "True"}));
  EXPECT_EQ(view.refreshes(), 6);
}

// --- Assign and the combining commands ---------------------------------------------------------------------

TEST_F(DemoCommands, AssignAToBCopiesAAndLeavesEqualityTrue) {
  fill_a({"1"});
  fill_b({"1"});
  view.b_assign_abClick();
  EXPECT_EQ(text(V::ls_equality), "True");
  fill_a({"5"});
  fill_b({"7"});
  view.b_assign_abClick();
  EXPECT_EQ(list(V::lb_set_b), (items{"1", "5"}));
  EXPECT_EQ(text(V::ls_equality), "True");
}

TEST_F(DemoCommands, AssignBToACopiesB) {
  fill_a({"1"});
  fill_b({"2"});
  EXPECT_EQ(status(), (items{"False", "False", "False", "False", "False"}));
  const int before = view.refreshes();
  view.b_assign_baClick();
  EXPECT_EQ(list(V::lb_set_a), items{"2"});
  EXPECT_EQ(status(), (items{"True", "True", "True", "False", "False"}));
  EXPECT_EQ(view.refreshes(), before + 1);
}

TEST_F(DemoCommands, IntersectionOfDisjointSetsEmptiesA) {
  fill_a({"1", "2"});
  fill_b({"3"});
  view.b_intersectionClick();
  EXPECT_EQ(list(V::lb_set_a), items{});
  EXPECT_EQ(text(V::ls_empty_a), "True");
  EXPECT_EQ(list(V::lb_set_b), items{"3"});
}

// --- Undo of A ---------------------------------------------------------------------------------------------

TEST_F(DemoUndo, SecondUndoRestoresTheReplacedSet) {
  include_a("5");
  include_a("7");
  view.b_undo_aClick();
  EXPECT_EQ(list(V::lb_set_a), items{"5"});
  view.b_undo_aClick();
  EXPECT_EQ(list(V::lb_set_a), (items{"5", "7"}));
  view.b_undo_aClick();
  EXPECT_EQ(list(V::lb_set_a), items{"5"});
}

TEST_F(DemoUndo, CommandsOnBAlsoMoveTheSnapshots) {
  include_a("5");
  include_b("9");
  view.b_undo_aClick();
  EXPECT_EQ(list(V::lb_set_a), items{"5"});
  EXPECT_EQ(list(V::lb_set_b), items{"9"});
}

TEST_F(DemoUndo, RightAfterStartLeavesAEmptyAndRefreshes) {
  view.b_undo_aClick();
  EXPECT_EQ(view.refreshes(), 2);
  EXPECT_EQ(list(V::lb_set_a), items{});
}

TEST_F(DemoUndo, CommandsThatEndWithoutRefreshLeaveTheSnapshotsAlone) {
  include_a("1");
  include_a("2");
  include_a("junk");
  view.b_exclude_aClick();  // nothing selected
  view.prompt_answers.push_back(std::nullopt);
  view.b_invert_aClick();
  view.b_undo_aClick();
  EXPECT_EQ(list(V::lb_set_a), items{"1"});
}

// --- Failures ----------------------------------------------------------------------------------------------

TEST_F(DemoFailure, MemoryExhaustionWhileShowingEscapesAsOutOfMemoryAndKeepsTheSnapshots) {
  fill_a({"1"});
  fill_a({"2"});
  view.before_write = [](V element) {
    if (element == V::lb_set_b) throw std::bad_alloc();
  };
  try {
    view.b_empty_aClick();
    FAIL() << "no error";
  } catch (const intset::EOutOfMemory& e) {
    EXPECT_EQ(e.message(), "Out of memory");
  }
  // The refresh stopped at B's list: A's list and header were written, nothing after them.
  EXPECT_EQ(list(V::lb_set_a), items{});
  EXPECT_EQ(text(V::st_set_a), "Set A  -  0 items");
  EXPECT_EQ(text(V::ls_empty_a), "False");
  EXPECT_EQ(view.undo_source(), (intset::tarrayofinteger{1}));
  EXPECT_EQ(view.last_shown_a(), (intset::tarrayofinteger{1, 2}));
}

TEST_F(DemoFailure, IncludeAndInvertSwallowAnErrorRaisedWhileShowing) {
  view.before_write = [](V element) {
    if (element == V::ls_subset) throw intset::EOutOfMemory();
  };
  EXPECT_NO_THROW(include_a("3"));
  EXPECT_NO_THROW(invert_b("4"));
  EXPECT_EQ(list(V::lb_set_a), items{"3"});
  EXPECT_EQ(list(V::lb_set_b), items{"4"});
  EXPECT_EQ(text(V::ls_empty_a), "True") << "the refresh stopped before the status texts";
}

TEST_F(DemoFailure, OtherCommandsLetAnErrorRaisedWhileShowingEscape) {
  view.before_write = [](V) { throw intset::EOutOfMemory(); };
  EXPECT_THROW(view.b_empty_aClick(), intset::EOutOfMemory);
  EXPECT_THROW(view.b_empty_bClick(), intset::EOutOfMemory);
  EXPECT_THROW(view.b_undo_aClick(), intset::EOutOfMemory);
  EXPECT_THROW(view.b_assign_abClick(), intset::EOutOfMemory);
  EXPECT_THROW(view.b_assign_baClick(), intset::EOutOfMemory);
  EXPECT_THROW(view.b_intersectionClick(), intset::EOutOfMemory);
  EXPECT_THROW(view.b_unionClick(), intset::EOutOfMemory);
  EXPECT_THROW(view.b_differenceClick(), intset::EOutOfMemory);
  view.forced_selection = "0";
  EXPECT_THROW(view.b_exclude_aClick(), intset::EOutOfMemory);
  EXPECT_THROW(view.b_exclude_bClick(), intset::EOutOfMemory);
}

// --- Life cycle --------------------------------------------------------------------------------------------

TEST(DemoLifeCycle, FormDestroyReleasesBothSetsAndBothSnapshots) {
  fake_view view;
  view.FormCreate();
  view.prompt_answers = {"1", "2"};
  view.b_include_aClick();
  view.b_include_aClick();
  view.FormDestroy();
  EXPECT_EQ(view.a(), nullptr);
  EXPECT_EQ(view.b(), nullptr);
  EXPECT_TRUE(view.snapshots_released());
}

TEST(DemoLifeCycle, DestructionIsSafeWhateverRanBefore) {
  { fake_view never_created; }
  {
    fake_view created;
    created.FormCreate();
    created.prompt_answers.push_back("1");
    created.b_include_aClick();
  }
  {
    fake_view destroyed;
    destroyed.FormCreate();
    destroyed.FormDestroy();
    destroyed.FormDestroy();
  }
}

}  // namespace

// --- Load and Save -----------------------------------------------------------------------------------------

// A folder of its own for each test, removed with everything in it afterwards.
class temp_folder {
 public:
  temp_folder() {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::filesystem::temp_directory_path() /
            (std::string("fnubrel_logic_test-") + test->test_suite_name() + "." + test->name() + "-" +
             std::to_string(std::random_device()()));
    std::filesystem::create_directories(path_);
  }
  ~temp_folder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  temp_folder(const temp_folder&) = delete;
  temp_folder& operator=(const temp_folder&) = delete;

  // The full name of `name` in the folder, as the file dialogs give it: UTF-8.
  std::string file(std::u8string_view name) const {
    const std::u8string full = (path_ / name).u8string();
    return std::string(full.begin(), full.end());
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

class DemoFiles : public Demo {
 protected:
  void save_a(const std::string& file) {
    view.save_answers.push_back(file);
    view.b_save_aClick();
  }
  void save_b(const std::string& file) {
    view.save_answers.push_back(file);
    view.b_save_bClick();
  }
  void load_a(const std::string& file) {
    view.open_answers.push_back(file);
    view.b_load_aClick();
  }
  void load_b(const std::string& file) {
    view.open_answers.push_back(file);
    view.b_load_bClick();
  }

  temp_folder folder;
};

TEST_F(DemoFiles, CancellingEitherDialogChangesNothingAndDoesNotRefresh) {
  fill_a({"1"});
  fill_b({"2"});
  const int before = view.refreshes();
  view.open_answers = {std::nullopt, std::nullopt};
  view.save_answers = {std::nullopt, std::nullopt};
  view.b_load_aClick();
  view.b_load_bClick();
  view.b_save_aClick();
  view.b_save_bClick();
  EXPECT_TRUE(view.script_used_up());
  EXPECT_EQ(view.refreshes(), before);
  EXPECT_TRUE(std::filesystem::is_empty(folder.path()));
  EXPECT_TRUE(view.a()->count() == 1 && view.a()->contains(1));
  EXPECT_TRUE(view.b()->count() == 1 && view.b()->contains(2));
}

TEST_F(DemoFiles, SavedEmptySetLoadedIntoTheOtherSetEmptiesBoth) {
  fill_b({"5", "-5"});
  save_a(folder.file(u8"empty.nbl"));
  const int before = view.refreshes();
  load_b(folder.file(u8"empty.nbl"));
  EXPECT_EQ(view.refreshes(), before + 1);
  EXPECT_EQ(list(V::lb_set_a), items{});
  EXPECT_EQ(list(V::lb_set_b), items{});
  EXPECT_EQ(text(V::st_set_b), "Set B  -  0 items");
  EXPECT_EQ(status(), (items{"True", "True", "True", "True", "True"}));
}

TEST_F(DemoFiles, SaveNeitherRefreshesNorMovesTheUndoSnapshots) {
  fill_a({"1", "2"});
  const int before = view.refreshes();
  save_a(folder.file(u8"a.nbl"));
  save_b(folder.file(u8"b.nbl"));
  EXPECT_EQ(view.refreshes(), before);
  view.b_undo_aClick();
  EXPECT_EQ(list(V::lb_set_a), items{"1"});
}

TEST_F(DemoFiles, LoadRestoresASavedSetAndUndoBringsBackTheChangedOne) {
  fill_a({"1", "2", "3"});
  save_a(folder.file(u8"a.nbl"));
  include_a("4");
  view.select(V::lb_set_a, "1");
  view.b_exclude_aClick();
  load_a(folder.file(u8"a.nbl"));
  EXPECT_EQ(list(V::lb_set_a), (items{"1", "2", "3"}));
  view.b_undo_aClick();
  EXPECT_EQ(list(V::lb_set_a), (items{"2", "3", "4"}));
}

TEST_F(DemoFiles, LoadingBMovesTheUndoSnapshotsLikeAnyRefresh) {
  save_b(folder.file(u8"b.nbl"));
  include_a("5");
  include_a("7");
  load_b(folder.file(u8"b.nbl"));
  view.b_undo_aClick();
  EXPECT_EQ(list(V::lb_set_a), (items{"5", "7"}));
}

// A load that fails, whatever the reason, leaves the set, everything shown and the undo source as they were,
// so a Save afterwards writes the members the window still shows.
TEST_F(DemoFiles, FailedLoadLeavesSetViewAndSnapshotsAsTheyWereForASaveAfterwards) {
  fill_a({"7", "300"});
  const std::string good = folder.file(u8"good.nbl");
  save_a(good);
  std::string bytes;
  {
    std::ifstream file(good, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(file), {});
  }
  const auto write = [&](std::u8string_view name, const std::string& content) {
    std::ofstream(folder.file(name), std::ios::binary) << content;
    return folder.file(name);
  };
  std::string damaged = bytes;
  damaged[16] = static_cast<char>(damaged[16] ^ 0x10);  // the first stored map byte: the checksum fails
  const std::pair<std::string, std::string> failing[] = {
      {write(u8"damaged.nbl", damaged), "CRC error"},
      {write(u8"truncated.nbl", bytes.substr(0, bytes.size() - 3)), "Stream read error"},
      {folder.file(u8"missing.nbl"), "Cannot open file"}};
  include_a("9");
  for (const auto& [file, message] : failing) {
    SCOPED_TRACE(file);
    const fake_view::call last_call = view.calls.back();
    view.open_answers.push_back(file);
    try {
      view.b_load_aClick();
      FAIL() << "no error";
    } catch (const intset::Exception& e) {
      EXPECT_EQ(e.message().rfind(message, 0), 0u) << e.message();
    }
    EXPECT_EQ(view.calls.back(), (fake_view::call{"choose_open_file", std::nullopt, {}, {}}));
    EXPECT_EQ(view.calls.end()[-2], last_call) << "nothing was written to the view";
    EXPECT_EQ(std::vector<std::int32_t>(view.a()->begin(), view.a()->end()),
              (std::vector<std::int32_t>{7, 9, 300}));
    EXPECT_EQ(view.undo_source(), (intset::tarrayofinteger{7, 300}));
  }
  save_a(folder.file(u8"saved.nbl"));
  load_b(folder.file(u8"saved.nbl"));
  EXPECT_EQ(list(V::lb_set_b), (items{"7", "9", "300"}));
}

TEST_F(DemoFiles, MissingFileRaisesTheOpenErrorAndLeavesTheSetUnchanged) {
  fill_a({"1", "2"});
  const std::string gone = folder.file(u8"gone.nbl");
  const int before = view.refreshes();
  view.open_answers.push_back(gone);
  try {
    view.b_load_aClick();
    FAIL() << "no error";
  } catch (const intset::EFOpenError& e) {
    EXPECT_EQ(e.message().rfind("Cannot open file \"" + gone + "\". ", 0), 0u) << e.message();
  }
  EXPECT_EQ(view.refreshes(), before);
  view.b_empty_bClick();
  EXPECT_EQ(list(V::lb_set_a), (items{"1", "2"}));
}

TEST_F(DemoFiles, SaveIntoAMissingFolderRaisesTheCreateErrorAndRefreshesNothing) {
  fill_a({"1"});
  const std::string nowhere = folder.file(u8"no such folder/a.nbl");
  const int before = view.refreshes();
  view.save_answers.push_back(nowhere);
  try {
    view.b_save_aClick();
    FAIL() << "no error";
  } catch (const intset::EFCreateError& e) {
    EXPECT_EQ(e.message().rfind("Cannot create file \"" + nowhere + "\". ", 0), 0u) << e.message();
  }
  EXPECT_EQ(view.refreshes(), before);
  EXPECT_EQ(list(V::lb_set_a), items{"1"});
}

TEST_F(DemoFiles, FileNamesFromTheDialogsAreUtf8) {
  fill_a({"42"});
  save_a(folder.file(u8"m\u00e9lange \u2602.nbl"));
  EXPECT_TRUE(std::filesystem::exists(folder.path() / u8"m\u00e9lange \u2602.nbl"));
  load_b(folder.file(u8"m\u00e9lange \u2602.nbl"));
  EXPECT_EQ(list(V::lb_set_b), items{"42"});
}

// --- Random commands against a model of two std::set and the undo snapshots --------------------------------

namespace {

using model_set = std::set<std::int32_t>;

// What the view should show for a pair of sets, worked out from the std::set model alone.
struct shown_state {
  items list_a, list_b;
  std::map<V, std::string> texts;
  bool operator==(const shown_state&) const = default;
};

void PrintTo(const shown_state& shown, std::ostream* out) {
  const auto print_list = [out](const char* name, const items& list) {
    *out << name << " {";
    for (const auto& item : list) *out << " " << item;
    *out << " }\n";
  };
  print_list("A", shown.list_a);
  print_list("B", shown.list_b);
  for (const auto& [element, text] : shown.texts) *out << static_cast<int>(element) << ": " << text << "\n";
}

items decimal_texts(const model_set& s) {
  items out;
  for (const std::int32_t v : s) out.push_back(std::to_string(v));
  return out;
}

std::string header(const char* name, std::size_t n) {
  return std::string("Set ") + name + "  -  " + std::to_string(n) + (n == 1 ? " item" : " items");
}

shown_state expected_view(const model_set& a, const model_set& b) {
  const auto word = [](bool v) { return std::string(v ? "True" : "False"); };
  const bool subset = std::includes(b.begin(), b.end(), a.begin(), a.end());
  const bool superset = std::includes(a.begin(), a.end(), b.begin(), b.end());
  return {decimal_texts(a),
          decimal_texts(b),
          {{V::st_set_a, header("A", a.size())},
           {V::st_set_b, header("B", b.size())},
           {V::ls_subset, word(subset)},
           {V::ls_superset, word(superset)},
           {V::ls_equality, word(a == b)},
           {V::ls_empty_a, word(a.empty())},
           {V::ls_empty_b, word(b.empty())}}};
}

shown_state actual_view(fake_view& view) {
  return {view.lists[V::lb_set_a], view.lists[V::lb_set_b], view.texts};
}

class driver {
 public:
  explicit driver(std::uint32_t seed) : rng_(seed) {}

  std::uint32_t pick(std::uint32_t n) { return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(rng_); }

  // Mostly values that collide within a few blocks, some at block edges and the ends of the range.
  std::int32_t value() {
    switch (pick(5)) {
      case 0:
        return static_cast<std::int32_t>(pick(4)) * 256 - 512 + static_cast<std::int32_t>(pick(3)) - 1;
      case 1:
        return pick(2) ? INT32_MIN + static_cast<std::int32_t>(pick(300))
                       : INT32_MAX - static_cast<std::int32_t>(pick(300));
      case 2:
        return static_cast<std::int32_t>(rng_());
      default:
        return static_cast<std::int32_t>(pick(1200)) - 600;
    }
  }

  // `v` written in one of the accepted forms, chosen at random.
  std::string accepted_text(std::int32_t v) {
    std::string text(pick(4) == 0 ? pick(4) : 0, ' ');
    const std::string zeros(pick(3) == 0 ? pick(12) : 0, '0');
    switch (pick(3)) {
      case 0: {  // decimal
        const std::int64_t wide = v;
        if (wide < 0) {
          text += '-';
        } else if (pick(3) == 0) {
          text += '+';
        }
        return text + zeros + std::to_string(wide < 0 ? -wide : wide);
      }
      case 1:  // hexadecimal bit pattern
        if (pick(3) == 0) text += '+';
        return text + hex_prefix() + zeros + hex_digits(static_cast<std::uint32_t>(v));
      default:  // negated hexadecimal
        return text + "-" + hex_prefix() + zeros + hex_digits(0u - static_cast<std::uint32_t>(v));
    }
  }

  // A text that must not convert, derived from an accepted one or out of range.
  std::string rejected_text() {
    const std::string good = accepted_text(value());
    switch (pick(7)) {
      case 0:
        return good + " ";
      case 1:
        return "\t" + good;
      case 2:
        return good + "g";
      case 3:
        return "";
      case 4:
        return std::to_string(2147483648LL + pick(1000000));
      case 5:
        return "-" + std::to_string(2147483649LL + pick(1000000));
      default:
        return hex_prefix() + std::string(pick(3), '0') + "100000000";  // one digit too many
    }
  }

 private:
  std::string hex_prefix() {
    static const char* const prefixes[] = {"$", "x", "X", "0x", "0X"};
    return prefixes[pick(5)];
  }
  std::string hex_digits(std::uint32_t pattern) {
    static const char lower[] = "0123456789abcdef";
    static const char upper[] = "0123456789ABCDEF";
    std::string digits;
    do {
      // The case is picked through a pointer: GCC 12 with -fsanitize=undefined miscompiles indexing the
      // conditional expression of two arrays directly.
      const char* const digit_case = pick(2) ? lower : upper;
      digits.insert(digits.begin(), digit_case[pattern % 16]);
      pattern /= 16;
    } while (pattern != 0);
    return digits;
  }

  std::mt19937 rng_;
};

void run(std::uint32_t seed, int steps) {
  SCOPED_TRACE("seed " + std::to_string(seed));
  driver d(seed);
  fake_view view;
  view.FormCreate();
  model_set a, b;
  std::vector<std::int32_t> snap_prev, snap_now;
  temp_folder folder;
  std::map<std::string, model_set> saved;  // file name -> the set saved in it

  for (int step = 0; step < steps; ++step) {
    const int refreshes_before = view.refreshes();
    const shown_state shown_before = actual_view(view);
    bool refreshes = true;
    const bool on_a = d.pick(2) == 0;
    model_set& x = on_a ? a : b;
    std::string command;

    // Saving is slow (the file is flushed to disk), so one step in fifty saves and one in twenty-five loads.
    const std::uint32_t file_step = d.pick(50);
    switch (file_step == 0 ? 12 : file_step < 3 ? 13 : d.pick(12)) {
      case 0:
      case 1:
      case 2: {
        const std::int32_t v = d.value();
        view.prompt_answers.push_back(d.accepted_text(v));
        command = "include " + *view.prompt_answers.back();
        on_a ? view.b_include_aClick() : view.b_include_bClick();
        x.insert(v);
        break;
      }
      case 3: {
        const std::int32_t v = d.value();
        view.prompt_answers.push_back(d.accepted_text(v));
        command = "invert " + *view.prompt_answers.back();
        on_a ? view.b_invert_aClick() : view.b_invert_bClick();
        if (!x.erase(v)) x.insert(v);
        break;
      }
      case 4: {
        const int kind = static_cast<int>(d.pick(3));
        view.prompt_answers.push_back(kind == 0 ? std::nullopt : std::optional(d.rejected_text()));
        command = "include or invert, cancelled or rejected";
        kind == 2 ? (on_a ? view.b_invert_aClick() : view.b_invert_bClick())
                  : (on_a ? view.b_include_aClick() : view.b_include_bClick());
        refreshes = false;
        break;
      }
      case 5: {
        command = "exclude";
        const V list = on_a ? V::lb_set_a : V::lb_set_b;
        if (!x.empty() && d.pick(5) != 0) {
          const auto index = d.pick(static_cast<std::uint32_t>(x.size()));
          view.select_index(list, index);
          x.erase(std::next(x.begin(), index));
        } else {
          refreshes = false;
        }
        on_a ? view.b_exclude_aClick() : view.b_exclude_bClick();
        break;
      }
      case 6:
        command = "empty";
        if (d.pick(4) != 0) {
          refreshes = false;  // keep the sets growing most of the time
          break;
        }
        on_a ? view.b_empty_aClick() : view.b_empty_bClick();
        x.clear();
        break;
      case 7:
        command = "assign";
        on_a ? view.b_assign_baClick() : view.b_assign_abClick();
        (on_a ? a : b) = on_a ? b : a;
        break;
      case 8: {
        command = "combine";
        model_set result;
        switch (d.pick(3)) {
          case 0:
            view.b_intersectionClick();
            std::set_intersection(a.begin(), a.end(), b.begin(), b.end(),
                                  std::inserter(result, result.end()));
            break;
          case 1:
            view.b_unionClick();
            std::set_union(a.begin(), a.end(), b.begin(), b.end(), std::inserter(result, result.end()));
            break;
          default:
            view.b_differenceClick();
            std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::inserter(result, result.end()));
            break;
        }
        a = std::move(result);
        break;
      }
      case 12: {
        const std::string file = folder.file(d.pick(2) ? u8"1.nbl" : u8"2.nbl");
        command = "save to " + file;
        view.save_answers.push_back(file);
        on_a ? view.b_save_aClick() : view.b_save_bClick();
        saved[file] = x;
        refreshes = false;
        break;
      }
      case 13: {
        if (saved.empty()) {
          command = "load, cancelled";
          view.open_answers.push_back(std::nullopt);
          refreshes = false;
        } else {
          const auto file = std::next(saved.begin(), d.pick(static_cast<std::uint32_t>(saved.size())));
          command = "load from " + file->first;
          view.open_answers.push_back(file->first);
          x = file->second;
        }
        on_a ? view.b_load_aClick() : view.b_load_bClick();
        break;
      }
      default:
        command = "undo";
        view.b_undo_aClick();
        a = model_set(snap_prev.begin(), snap_prev.end());
        break;
    }

    SCOPED_TRACE("step " + std::to_string(step) + ": " + command);
    ASSERT_TRUE(view.script_used_up());
    ASSERT_EQ(view.refreshes(), refreshes_before + (refreshes ? 1 : 0));
    if (refreshes) {
      snap_prev = std::move(snap_now);
      snap_now.assign(a.begin(), a.end());
      ASSERT_EQ(actual_view(view), expected_view(a, b));
    } else {
      ASSERT_EQ(actual_view(view), shown_before);
    }
  }
}

TEST(DemoDifferential, RandomCommandsShowWhatAModelOfTwoSetsAndTheUndoSnapshotsShows) {
  for (std::uint32_t seed = 1; seed <= 12; ++seed) run(seed, 600);
}

}  // namespace
