// The main window on Qt's offscreen platform: its layout against the window's tables, the texts it starts
// with, every command driven from its button through the real prompt, file dialogs and error box, the
// contact links, and a rendering of the window as a PNG.
#include <QAbstractItemModel>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollBar>
#include <QSet>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <iterator>
#include <limits>
#include <new>
#include <vector>

#include "app/fnubrel.h"
#include "tests/window_test_support.h"

namespace {

// --- Helpers --------------------------------------------------------------------------------------------

QPushButton* button_captioned(QWidget* dialog, const QString& caption) {
  for (auto* button : dialog->findChildren<QPushButton*>())
    if (button->text() == caption) return button;
  return nullptr;
}

// What a prompt showed before it was answered.
struct prompt_seen {
  QString title, text, field;
  int max_length = 0;
  QStringList buttons;
  bool fixed_size = false;
  QPoint centre;
};

// Clicks the button `set_button` and answers its prompt with `entry`, by OK or by Cancel.
prompt_seen answer_prompt(const QWidget& window, const char* set_button, const QString& entry,
                          bool ok = true) {
  prompt_seen seen;
  on_modal<QDialog> answer([&](QDialog* dialog) {
    seen.title = dialog->windowTitle();
    seen.text = dialog->findChild<QLabel*>()->text();
    auto* field = dialog->findChild<QLineEdit*>();
    seen.field = field->text();
    seen.max_length = field->maxLength();
    for (auto* button : dialog->findChild<QDialogButtonBox*>()->buttons()) seen.buttons << button->text();
    seen.fixed_size =
        dialog->minimumSize() == dialog->maximumSize() && dialog->size() == dialog->minimumSize();
    seen.centre = dialog->frameGeometry().center();
    QTest::keyClicks(field, entry);
    QTest::mouseClick(button_captioned(dialog, ok ? "OK" : "Cancel"), Qt::LeftButton);
  });
  click(window, set_button);
  if (!answer.answered()) qFatal("no prompt opened");
  return seen;
}

void include(const QWidget& window, const char* set_button, std::initializer_list<int> values) {
  for (int value : values) answer_prompt(window, set_button, QString::number(value));
}

void select_item(const QWidget& window, const char* list, const QString& text) {
  auto* view = control<QListView>(window, list);
  const int row = items_of(window, list).indexOf(text);
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                    view->visualRect(view->model()->index(row, 0)).center());
}

// Types `file` into an open file dialog's name field and presses its Open or Save button.
void choose(QFileDialog* dialog, const QString& file) {
  dialog->findChild<QLineEdit*>("fileNameEdit")->setText(file);
  static_cast<QDialog*>(dialog)->accept();  // QFileDialog::accept
}

// Clicks `set_button` and, in the file dialog it opens, chooses `file` (or cancels on an empty name).
// Reports the file the dialog had selected when it opened.
QString answer_file_dialog(const QWidget& window, const char* set_button, const QString& file) {
  QString preselected;
  on_modal<QFileDialog> answer([&](QFileDialog* dialog) {
    preselected = dialog->selectedFiles().value(0);
    if (file.isEmpty()) {
      dialog->reject();
      return;
    }
    choose(dialog, file);
  });
  click(window, set_button);
  if (!answer.answered()) qFatal("no file dialog opened");
  return preselected;
}

// The window with its link opener replaced by a recorder.
class recording_window : public Tfnubrel {
 public:
  QList<QUrl> opened;

 protected:
  void open_address(const QUrl& address) override { opened << address; }
};

// A window whose open dialog fails with a given error, to watch the error box.
class failing_window : public Tfnubrel {
 public:
  std::function<void()> fail;

 protected:
  std::optional<std::string> choose_open_file() override {
    fail();
    return std::nullopt;
  }
};

// A window whose set B can be filled directly, for lists too long to fill through the prompt.
class fillable_window : public Tfnubrel {
 public:
  void fill_b(int members) {
    for (int value = 0; value < members; ++value) set_b->include(value);
    refresh();
  }
};

struct shown_window {
  Tfnubrel window;
  shown_window() {
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) qFatal("window not exposed");
  }
};

// --- The tables of the window ---------------------------------------------------------------------------

struct placed {
  const char* name;
  QRect geometry;
};

const placed framed_controls[] = {
    {"bevel_a", {8, 8, 225, 433}},           {"bevel_c", {240, 8, 153, 433}},
    {"bevel_b", {400, 8, 225, 433}},         {"st_set_a", {24, 24, 193, 17}},
    {"st_set_b", {416, 24, 193, 17}},        {"lb_set_a", {104, 48, 113, 377}},
    {"lb_set_b", {416, 48, 113, 377}},       {"b_empty_a", {24, 48, 73, 25}},
    {"b_include_a", {24, 80, 73, 25}},       {"b_exclude_a", {24, 112, 73, 25}},
    {"b_invert_a", {24, 144, 73, 25}},       {"b_load_a", {24, 176, 73, 25}},
    {"b_save_a", {24, 208, 73, 25}},         {"b_undo_a", {24, 240, 73, 25}},
    {"b_assign_ab", {256, 48, 121, 25}},     {"b_assign_ba", {256, 80, 121, 25}},
    {"b_intersection", {256, 112, 121, 25}}, {"b_union", {256, 144, 121, 25}},
    {"b_difference", {256, 176, 121, 25}},   {"b_empty_b", {536, 48, 73, 25}},
    {"b_include_b", {536, 80, 73, 25}},      {"b_exclude_b", {536, 112, 73, 25}},
    {"b_invert_b", {536, 144, 73, 25}},      {"b_load_b", {536, 176, 73, 25}},
    {"b_save_b", {536, 208, 73, 25}},
};

const std::pair<const char*, const char*> button_captions[] = {
    {"b_empty_a", "Empty"},
    {"b_include_a", "Include"},
    {"b_exclude_a", "Exclude"},
    {"b_invert_a", "Invert"},
    {"b_load_a", "Load"},
    {"b_save_a", "Save"},
    {"b_undo_a", "Undo"},
    {"b_assign_ab", "Assign  A=>B"},
    {"b_assign_ba", "Assign  A<=B"},
    {"b_intersection", "Intersection  A:=A*B"},
    {"b_union", "Union  A:=A+B"},
    {"b_difference", "Diferrence  A:=A-B"},
    {"b_empty_b", "Empty"},
    {"b_include_b", "Include"},
    {"b_exclude_b", "Exclude"},
    {"b_invert_b", "Invert"},
    {"b_load_b", "Load"},
    {"b_save_b", "Save"},
};

struct label_row {
  const char* name;
  QPoint position;
  const char* caption;  // nullptr for the value labels, whose text the logic writes
};

const label_row labels[] = {
    {"l_subset", {256, 224}, "Subset  A<=B:"},
    {"ls_subset", {344, 224}, nullptr},
    {"l_superset", {256, 248}, "Superset  A>=B:"},
    {"ls_superset", {344, 248}, nullptr},
    {"l_equality", {256, 272}, "Equality  A=B:"},
    {"ls_equality", {344, 272}, nullptr},
    {"l_empty_a", {256, 296}, "Set A is empty:"},
    {"ls_empty_a", {344, 296}, nullptr},
    {"l_empty_b", {256, 320}, "Set B is empty:"},
    {"ls_empty_b", {344, 320}, nullptr},
    {"llweb", {248, 360}, "Web:"},
    {"lweb", {248, 376}, nullptr},
    {"llemail", {248, 400}, "E-mail:"},
    {"lemail", {248, 416}, nullptr},
};

#ifdef Q_OS_WIN
const QString all_files = "All files (*.*)";
#else
const QString all_files = "All files (*)";
#endif

const char* const value_labels[] = {"ls_subset", "ls_superset", "ls_equality", "ls_empty_a", "ls_empty_b"};

// Tab order 0 to 21.
const char* const tab_order[] = {
    "st_set_a",    "b_empty_a",    "b_include_a", "b_exclude_a", "b_invert_a",  "b_load_a",
    "b_save_a",    "b_undo_a",     "lb_set_a",    "b_assign_ab", "b_assign_ba", "b_intersection",
    "b_union",     "b_difference", "st_set_b",    "lb_set_b",    "b_empty_b",   "b_include_b",
    "b_exclude_b", "b_invert_b",   "b_load_b",    "b_save_b"};

}  // namespace

// --- Layout -----------------------------------------------------------------------------------------------

class Layout : public QObject {
  Q_OBJECT

 private slots:
  void windowIsFixedAt632By448WithMinimiseButNoMaximise() {
    Tfnubrel window;
    QCOMPARE(window.objectName(), QString("fnubrel"));
    QCOMPARE(window.windowTitle(), QString("Numbrelle - DEMO Application"));
    QCOMPARE(window.size(), QSize(632, 448));
    QCOMPARE(window.minimumSize(), QSize(632, 448));
    QCOMPARE(window.maximumSize(), QSize(632, 448));
    QCOMPARE(window.pos(), QPoint(112, 162));
    const Qt::WindowFlags flags = window.windowFlags();
    QVERIFY(flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(flags.testFlag(Qt::WindowSystemMenuHint));
    QVERIFY(flags.testFlag(Qt::CustomizeWindowHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QCOMPARE(window.backgroundRole(), QPalette::Window);  // the desktop's button face, as Qt maps it
    QVERIFY(!window.windowIcon().pixmap(32).isNull());
  }

  void everyControlHasTheGeometryOfTheTables() {
    Tfnubrel window;
    for (const auto& [name, geometry] : framed_controls)
      QVERIFY2(window.findChild<QWidget*>(name)->geometry() == geometry, name);
    for (const auto& label : labels)
      QVERIFY2(control<QLabel>(window, label.name)->pos() == label.position, label.name);
  }

  void captionsAreThoseOfTheTables() {
    Tfnubrel window;
    for (const auto& [name, caption] : button_captions)
      QCOMPARE(control<QPushButton>(window, name)->text(), QString(caption));
    for (const auto& label : labels)
      if (label.caption) QCOMPARE(text_of(window, label.name), QString(label.caption));
  }

  void headersAreCentredBoldAndBorderedInTooltipColours() {
    Tfnubrel window;
    for (const char* name : {"st_set_a", "st_set_b"}) {
      auto* header = control<QLabel>(window, name);
      QCOMPARE(header->alignment(), Qt::Alignment(Qt::AlignCenter));
      QVERIFY(header->font().bold());
      QCOMPARE(header->frameShape(), QFrame::Box);
      QCOMPARE(header->frameShadow(), QFrame::Plain);
      QCOMPARE(header->lineWidth(), 1);
      QVERIFY(header->autoFillBackground());
      QCOMPARE(header->backgroundRole(), QPalette::ToolTipBase);
      QCOMPARE(header->foregroundRole(), QPalette::ToolTipText);
    }
  }

  void valuesAreBoldInTheLinkColour() {
    Tfnubrel window;
    for (const char* name : value_labels) {
      QVERIFY(control<QLabel>(window, name)->font().bold());
      QCOMPARE(control<QLabel>(window, name)->foregroundRole(), QPalette::Link);
    }
  }

  void linksAreBlueUnderlinedWithAHandCursor() {
    Tfnubrel window;
    for (const char* name : {"lweb", "lemail"}) {
      auto* link = control<QLabel>(window, name);
      QVERIFY(link->font().underline());
      QVERIFY(!link->font().bold());
      QCOMPARE(link->palette().color(QPalette::Active, QPalette::WindowText), QColor(Qt::blue));
      QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
    }
    QVERIFY(text_of(window, "lweb").startsWith("http://"));
    QVERIFY(QUrl(text_of(window, "lweb")).host().endsWith("example.org"));
    QVERIFY(text_of(window, "lemail").endsWith("@example.org"));
  }

  void listsHaveUniformItemsThirteenHighAndSingleSelection() {
    shown_window shown;
    include(shown.window, "b_include_a", {1, 2, 3});
    for (const char* name : {"lb_set_a", "lb_set_b"}) {
      auto* list = control<QListView>(shown.window, name);
      QVERIFY(list->uniformItemSizes());
      QCOMPARE(list->selectionMode(), QAbstractItemView::SingleSelection);
      QCOMPARE(list->editTriggers(), QAbstractItemView::NoEditTriggers);
    }
    auto* list = control<QListView>(shown.window, "lb_set_a");
    QCOMPARE(list->visualRect(list->model()->index(0, 0)).height(), 13);
    QCOMPARE(list->visualRect(list->model()->index(2, 0)).top() -
                 list->visualRect(list->model()->index(0, 0)).top(),
             26);
  }

  void tabRunsDownColumnAThenTheMiddleThenColumnB() {
    shown_window shown;
    QWidget& window = shown.window;
    // The focus chain holds every control of the tab order in that order, the headers included.
    QStringList chain;
    QWidget* widget = control<QWidget>(window, "st_set_a");
    for (int i = 0; i < 200 && chain.size() < int(std::size(tab_order));
         ++i, widget = widget->nextInFocusChain())
      if (std::find_if(std::begin(tab_order), std::end(tab_order),
                       [&](const char* name) { return widget->objectName() == name; }) != std::end(tab_order))
        chain << widget->objectName();
    QStringList expected;
    for (const char* name : tab_order) expected << name;
    QCOMPARE(chain, expected);
    // Tab visits those that take focus (the headers do not), round to the first again.
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    control<QWidget>(window, "b_empty_a")->setFocus(Qt::TabFocusReason);
    QStringList visited{QApplication::focusWidget()->objectName()};
    for (int i = 0; i < 20; ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      visited << QApplication::focusWidget()->objectName();
    }
    expected.removeAll("st_set_a");
    expected.removeAll("st_set_b");
    expected << "b_empty_a";
    QCOMPARE(visited, expected);
  }

  // The form asks for "MS Sans Serif"; where it is missing, the narrow fallback must keep every caption
  // inside its control and clear of the next one.
  void everyCaptionFitsBeforeTheNextControlStarts() {
    shown_window shown;
    QWidget& window = shown.window;
    QCOMPARE(window.font().family(), QString("MS Sans Serif"));
    QCOMPARE(window.font().pixelSize(), 11);
    const QString drawn_family = QFontInfo(window.font()).family();
    QVERIFY2(drawn_family == "MS Sans Serif" || drawn_family == "Liberation Sans Narrow" ||
                 drawn_family == "Arial Narrow",
             qPrintable(drawn_family));

    for (const auto& [name, caption] : button_captions) {
      auto* button = control<QPushButton>(window, name);
      QStyleOptionButton option;
      option.initFrom(button);
      option.text = button->text();
      const QRect room = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
      QVERIFY2(button->fontMetrics().horizontalAdvance(caption) <= room.width(), name);
    }
    // Captions, values and links are sized to their text and end before the next control to their right:
    // a value label, or the edge of the middle frame.
    const int middle_frame_inside = control<QWidget>(window, "bevel_c")->geometry().right() - 1;
    for (const auto& label : labels) {
      auto* widget = control<QLabel>(window, label.name);
      QVERIFY2(widget->width() >= widget->fontMetrics().horizontalAdvance(widget->text()), label.name);
      const bool beside_value = QString(label.name).startsWith("l_");
      const int next_left = beside_value ? 344 : middle_frame_inside;
      QVERIFY2(widget->geometry().right() < next_left, label.name);
    }
    for (const char* name : value_labels) QCOMPARE(text_of(window, name), QString("True"));
    // Values read "False" as often; the widest header text has a million members.
    for (const char* name : value_labels) {
      auto* value = control<QLabel>(window, name);
      QVERIFY(value->x() + value->fontMetrics().horizontalAdvance("False") < middle_frame_inside);
    }
    for (const char* name : {"st_set_a", "st_set_b"}) {
      auto* header = control<QLabel>(window, name);
      QVERIFY(header->fontMetrics().horizontalAdvance("Set A  -  1000000 items") <=
              header->contentsRect().width());
    }
    // No two controls overlap, except the frames around them.
    QList<QWidget*> controls;
    for (const auto& [name, geometry] : framed_controls)
      if (!QString(name).startsWith("bevel_")) controls << control<QWidget>(window, name);
    for (const auto& label : labels) controls << control<QWidget>(window, label.name);
    for (int i = 0; i < controls.size(); ++i)
      for (int j = i + 1; j < controls.size(); ++j)
        QVERIFY2(!controls[i]->geometry().intersects(controls[j]->geometry()),
                 qPrintable(controls[i]->objectName() + " overlaps " + controls[j]->objectName()));
  }
};

// --- The texts at start ---------------------------------------------------------------------------------

class StartTexts : public QObject {
  Q_OBJECT

 private slots:
  void bothSetsAreEmptyAndEveryStatusTrue() {
    Tfnubrel window;
    QCOMPARE(text_of(window, "st_set_a"), QString("Set A  -  0 items"));
    QCOMPARE(text_of(window, "st_set_b"), QString("Set B  -  0 items"));
    for (const char* name : value_labels) QCOMPARE(text_of(window, name), QString("True"));
    QVERIFY(items_of(window, "lb_set_a").isEmpty());
    QVERIFY(items_of(window, "lb_set_b").isEmpty());
  }
};

// --- Commands from their buttons ------------------------------------------------------------------------

class Commands : public QObject {
  Q_OBJECT

 private slots:
  void includeTakesTheIntegerEnteredInItsPrompt() {
    shown_window shown;
    const prompt_seen seen = answer_prompt(shown.window, "b_include_a", " -12");
    QCOMPARE(seen.title, QString("Include"));
    QCOMPARE(seen.text, QString("Enter integer:"));
    QCOMPARE(seen.field, QString());
    QCOMPARE(seen.max_length, 255);
    QCOMPARE(seen.buttons, QStringList({"OK", "Cancel"}));
    QVERIFY(seen.fixed_size);
    QVERIFY((seen.centre - shown.window.screen()->geometry().center()).manhattanLength() <=
            4);  // a frame's width
    QCOMPARE(items_of(shown.window, "lb_set_a"), QStringList{"-12"});
    QCOMPARE(text_of(shown.window, "st_set_a"), QString("Set A  -  1 item"));
    QCOMPARE(text_of(shown.window, "ls_empty_a"), QString("False"));
    QCOMPARE(text_of(shown.window, "ls_subset"), QString("False"));
    QCOMPARE(text_of(shown.window, "ls_superset"), QString("True"));
    QCOMPARE(text_of(shown.window, "ls_equality"), QString("False"));
    QCOMPARE(text_of(shown.window, "ls_empty_b"), QString("True"));
  }

  void invertTogglesAndItsPromptSaysInvert() {
    shown_window shown;
    QCOMPARE(answer_prompt(shown.window, "b_invert_b", "$1F").title, QString("Invert"));
    include(shown.window, "b_include_b", {-3});
    QCOMPARE(items_of(shown.window, "lb_set_b"), QStringList({"-3", "31"}));
    answer_prompt(shown.window, "b_invert_b", "31");
    QCOMPARE(items_of(shown.window, "lb_set_b"), QStringList{"-3"});
    QCOMPARE(text_of(shown.window, "st_set_b"), QString("Set B  -  1 item"));
  }

  void aCancelledPromptOrAnEntryThatIsNoIntegerChangesNothing() {
    shown_window shown;
    include(shown.window, "b_include_a", {5});
    answer_prompt(shown.window, "b_include_a", "7", false);
    answer_prompt(shown.window, "b_invert_a", "5", false);
    answer_prompt(shown.window, "b_include_a", "abc");
    QCOMPARE(items_of(shown.window, "lb_set_a"), QStringList{"5"});
    // Each refresh moves the undo snapshots: none of these refreshed, so Undo goes back to the empty A.
    click(shown.window, "b_undo_a");
    QVERIFY(items_of(shown.window, "lb_set_a").isEmpty());
  }

  void excludeRemovesTheSelectedItemAndNothingWithoutSelection() {
    shown_window shown;
    include(shown.window, "b_include_a", {7, 5, 9});
    QCOMPARE(items_of(shown.window, "lb_set_a"), QStringList({"5", "7", "9"}));
    click(shown.window, "b_exclude_a");
    QCOMPARE(items_of(shown.window, "lb_set_a"), QStringList({"5", "7", "9"}));
    select_item(shown.window, "lb_set_a", "7");
    click(shown.window, "b_exclude_a");
    QCOMPARE(items_of(shown.window, "lb_set_a"), QStringList({"5", "9"}));
    click(shown.window, "b_exclude_a");  // the refresh left nothing selected
    QCOMPARE(items_of(shown.window, "lb_set_a"), QStringList({"5", "9"}));
    QCOMPARE(text_of(shown.window, "st_set_a"), QString("Set A  -  2 items"));
  }

  void aListWhoseMembersDidNotChangeIsStillRefilled() {
    fillable_window window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.fill_b(100);
    auto* list = control<QListView>(window, "lb_set_b");
    list->scrollToBottom();
    select_item(window, "lb_set_b", "99");
    QVERIFY(list->verticalScrollBar()->value() > 0);
    QCOMPARE(list->verticalScrollBar()->singleStep(), 13);  // one item per step
    click(window, "b_empty_a");                             // refreshes both lists; B's members are the same
    QVERIFY(!list->selectionModel()->hasSelection());
    QVERIFY(!list->currentIndex().isValid());
    QCOMPARE(list->verticalScrollBar()->value(), 0);
    click(window, "b_exclude_b");
    QCOMPARE(items_of(window, "lb_set_b").size(), 100);
  }

  // A list of a million members: a row's text is there when asked for, and the row chosen by mouse or
  // keyboard is the one Exclude removes.
  void excludeTakesTheRowChosenByMouseOrKeyboardAmongAMillion() {
    fillable_window window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.fill_b(1'000'000);
    auto* list = control<QListView>(window, "lb_set_b");
    const QAbstractItemModel* items = list->model();
    QCOMPARE(items->rowCount(), 1'000'000);
    const QModelIndex far = items->index(765'432, 0);
    QCOMPARE(far.data().toString(), QString("765432"));
    list->scrollTo(far);
    QVERIFY(list->viewport()->rect().contains(list->visualRect(far)));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(far).center());
    click(window, "b_exclude_b");
    QCOMPARE(text_of(window, "st_set_b"), QString("Set B  -  999999 items"));
    QCOMPARE(items->index(765'432, 0).data().toString(), QString("765433"));
    QTest::keyClick(list, Qt::Key_End);
    QTest::keyClick(list, Qt::Key_Up);
    click(window, "b_exclude_b");
    QCOMPARE(text_of(window, "st_set_b"), QString("Set B  -  999998 items"));
    QCOMPARE(items->index(999'997, 0).data().toString(), QString("999999"));
  }

  void combiningCommandsActOnAAndUndoSwapsBack() {
    shown_window shown;
    include(shown.window, "b_include_a", {1, 2});
    include(shown.window, "b_include_b", {2, 3});
    click(shown.window, "b_union");
    QCOMPARE(items_of(shown.window, "lb_set_a"), QStringList({"1", "2", "3"}));
    QCOMPARE(text_of(shown.window, "ls_superset"), QString("True"));
    click(shown.window, "b_undo_a");
    QCOMPARE(items_of(shown.window, "lb_set_a"), QStringList({"1", "2"}));
    click(shown.window, "b_undo_a");
    QCOMPARE(items_of(shown.window, "lb_set_a"), QStringList({"1", "2", "3"}));
    click(shown.window, "b_difference");
    QCOMPARE(items_of(shown.window, "lb_set_a"), QStringList{"1"});
    click(shown.window, "b_intersection");
    QVERIFY(items_of(shown.window, "lb_set_a").isEmpty());
    QCOMPARE(text_of(shown.window, "ls_empty_a"), QString("True"));
    click(shown.window, "b_assign_ba");
    QCOMPARE(items_of(shown.window, "lb_set_a"), QStringList({"2", "3"}));
    QCOMPARE(text_of(shown.window, "ls_equality"), QString("True"));
    click(shown.window, "b_empty_b");
    QVERIFY(items_of(shown.window, "lb_set_b").isEmpty());
    click(shown.window, "b_assign_ab");
    QCOMPARE(items_of(shown.window, "lb_set_b"), QStringList({"2", "3"}));
    click(shown.window, "b_empty_a");
    QCOMPARE(text_of(shown.window, "st_set_a"), QString("Set A  -  0 items"));
    QCOMPARE(text_of(shown.window, "ls_subset"), QString("True"));
    QCOMPARE(text_of(shown.window, "ls_superset"), QString("False"));
  }
};

// --- Load and Save through the file dialogs -------------------------------------------------------------

class Files : public QObject {
  Q_OBJECT

 private slots:
  void bothDialogsOfferNumbrelleFilesFirstWithTheSuffixNbl() {
    Tfnubrel window;
    auto* open = control<QFileDialog>(window, "d_open");
    auto* save = control<QFileDialog>(window, "d_save");
    for (auto* dialog : {open, save}) {
      QCOMPARE(dialog->nameFilters(), QStringList({"Numbrelle files (*.nbl)", all_files}));
      QCOMPARE(dialog->selectedNameFilter(), QString("Numbrelle files (*.nbl)"));
      QCOMPARE(dialog->defaultSuffix(), QString("nbl"));
      QVERIFY(dialog->isModal() || !dialog->isVisible());
    }
    QCOMPARE(open->acceptMode(), QFileDialog::AcceptOpen);
    QCOMPARE(open->fileMode(), QFileDialog::ExistingFile);
    QCOMPARE(save->acceptMode(), QFileDialog::AcceptSave);
    QCOMPARE(save->fileMode(), QFileDialog::AnyFile);
    QVERIFY(!save->testOption(QFileDialog::DontConfirmOverwrite));
    QCOMPARE(window.findChildren<QFileDialog*>().size(), 2);
  }

  // Under "All files" the open dialog lists a set file without an extension too, and it loads.
  void aFileWithoutExtensionIsListedUnderAllFilesAndLoads() {
    shown_window shown;
    QTemporaryDir folder;
    intset::tnumbrelle saved;
    saved.include(5);
    saved.save_to_file(folder.filePath("plain").toStdString());
    saved.save_to_file(folder.filePath("set.nbl").toStdString());
    on_modal<QFileDialog> answer([&](QFileDialog* dialog) {
      const auto close_on_failure = qScopeGuard([dialog] {
        if (dialog->isVisible()) dialog->reject();
      });
      auto* files = dialog->findChild<QFileSystemModel*>();
      const auto listed = [&] {
        QStringList names;
        const QModelIndex shown_folder = files->index(folder.path());
        for (int row = 0; row < files->rowCount(shown_folder); ++row)
          names << files->index(row, 0, shown_folder).data().toString();
        names.sort();
        return names;
      };
      dialog->setDirectory(folder.path());
      QTRY_COMPARE(listed(), QStringList{"set.nbl"});
      dialog->selectNameFilter(all_files);
      QTRY_COMPARE(listed(), QStringList({"plain", "set.nbl"}));
      dialog->findChild<QListView*>("listView")
          ->selectionModel()
          ->select(files->index(folder.filePath("plain")),
                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
      static_cast<QDialog*>(dialog)->accept();
    });
    click(shown.window, "b_load_a");
    QVERIFY(answer.answered());
    QCOMPARE(items_of(shown.window, "lb_set_a"), QStringList{"5"});
  }

  void savedSetLoadsIntoTheOtherAndEachDialogRemembersItsName() {
    shown_window shown;
    QTemporaryDir folder;
    const QString first = folder.filePath("first.nbl");
    include(shown.window, "b_include_a", {-70000, 4, 300});
    answer_file_dialog(shown.window, "b_save_a",
                       folder.filePath("first"));  // the suffix is added
    QVERIFY(QFile::exists(first));
    QCOMPARE(items_of(shown.window, "lb_set_b"), QStringList());
    answer_file_dialog(shown.window, "b_load_b", first);
    QCOMPARE(items_of(shown.window, "lb_set_b"), QStringList({"-70000", "4", "300"}));
    QCOMPARE(text_of(shown.window, "ls_equality"), QString("True"));
    // The same two dialogs serve both sets, opening with the name last chosen in each.
    QCOMPARE(answer_file_dialog(shown.window, "b_load_a", QString()), first);
    QCOMPARE(answer_file_dialog(shown.window, "b_save_b", QString()), first);
  }

  void cancelledDialogsChangeNothing() {
    shown_window shown;
    include(shown.window, "b_include_a", {1});
    include(shown.window, "b_include_b", {2});
    answer_file_dialog(shown.window, "b_load_a", QString());
    answer_file_dialog(shown.window, "b_save_b", QString());
    QCOMPARE(items_of(shown.window, "lb_set_a"), QStringList{"1"});
    QCOMPARE(items_of(shown.window, "lb_set_b"), QStringList{"2"});
    // No refresh happened: Undo still goes back to A before the refresh of B's Include, which was {1}.
    click(shown.window, "b_undo_a");
    QCOMPARE(items_of(shown.window, "lb_set_a"), QStringList{"1"});
  }

  void saveAsksBeforeReplacingAFile() {
    shown_window shown;
    QTemporaryDir folder;
    const QString file = folder.filePath("kept.nbl");
    {
      QFile existing(file);
      QVERIFY(existing.open(QIODevice::WriteOnly));
      existing.write("not a set");
    }
    QString question;
    on_modal<QFileDialog> answer([&](QFileDialog* dialog) {
      on_modal<QMessageBox> refuse([&](QMessageBox* box) {
        question = box->text();
        box->button(QMessageBox::No)->click();
      });
      choose(dialog, file);  // asks, is refused, and stays open
      const bool still_open = dialog->isVisible();
      dialog->reject();
      if (!still_open) question = "(dialog closed)";
    });
    click(shown.window, "b_save_a");
    QVERIFY(answer.answered());
    QVERIFY2(question.contains("kept.nbl"), qPrintable(question));
    QFile existing(file);
    QVERIFY(existing.open(QIODevice::ReadOnly));
    QCOMPARE(existing.readAll(), QByteArray("not a set"));
  }
};

// --- The error box --------------------------------------------------------------------------------------

class ErrorBox : public QObject {
  Q_OBJECT

 private slots:
  void damagedFileShowsCrcErrorAndTheListKeepsItsItems() {
    shown_window shown;
    QTemporaryDir folder;
    const QString file = folder.filePath("damaged.nbl");
    include(shown.window, "b_include_a", {8, 9});
    answer_file_dialog(shown.window, "b_save_a", file);
    {
      QFile damaged(file);
      QVERIFY(damaged.open(QIODevice::ReadWrite));
      QByteArray bytes = damaged.readAll();
      bytes[bytes.size() - 1] = char(bytes[bytes.size() - 1] ^ 0x5A);  // the checksum no longer matches
      damaged.seek(0);
      damaged.write(bytes);
    }
    const box_seen box = close_error_box_after([&] { answer_file_dialog(shown.window, "b_load_a", file); });
    QCOMPARE(box.title, QString("Numbrelle"));
    QCOMPARE(box.text, QString("CRC error."));
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.buttons, 1);
    QVERIFY(box.ok_button);
    // A failed load changes nothing: A still holds what its list shows, after the next refresh too.
    QCOMPARE(items_of(shown.window, "lb_set_a"), QStringList({"8", "9"}));
    QCOMPARE(text_of(shown.window, "st_set_a"), QString("Set A  -  2 items"));
    click(shown.window, "b_empty_b");
    QCOMPARE(items_of(shown.window, "lb_set_a"), QStringList({"8", "9"}));
  }

  void aFileThatCannotBeOpenedLeavesTheSetAsItWas() {
    shown_window shown;
    QTemporaryDir folder;
    const QString file = folder.filePath("gone.nbl");
    include(shown.window, "b_include_b", {1});
    answer_file_dialog(shown.window, "b_save_b", file);
    include(shown.window, "b_include_a", {2});
    const box_seen box = close_error_box_after([&] {
      // Chosen, then removed before it is opened.
      on_modal<QFileDialog> answer([&](QFileDialog* dialog) {
        choose(dialog, file);
        QFile::remove(file);
      });
      click(shown.window, "b_load_a");
    });
    QCOMPARE(box.title, QString("Numbrelle"));
    QVERIFY2(box.text.startsWith("Cannot open file \"" + file + "\". "), qPrintable(box.text));
    click(shown.window, "b_empty_b");
    QCOMPARE(items_of(shown.window, "lb_set_a"), QStringList{"2"});
  }

  void fullStopIsAddedUnlessTheMessageEndsAtOrBelowIt_data() {
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QString>("shown");
    QTest::newRow("a letter") << QByteArray("CRC error") << "CRC error.";
    QTest::newRow("a full stop") << QByteArray("Done.") << "Done.";
    QTest::newRow("a space") << QByteArray("Trailing ") << "Trailing ";
    QTest::newRow("an exclamation mark") << QByteArray("Stop!") << "Stop!";
    QTest::newRow("a closing parenthesis") << QByteArray("(disk)") << "(disk)";
    QTest::newRow("a comma") << QByteArray("a, b,") << "a, b,";
    QTest::newRow("a slash") << QByteArray("/tmp/") << "/tmp/.";
    QTest::newRow("a digit") << QByteArray("code 7") << "code 7.";
    QTest::newRow("a non-ASCII letter") << QByteArray("caf\xc3\xa9") << QString::fromUtf8("caf\xc3\xa9.");
    QTest::newRow("markup") << QByteArray("<b>bold</b>") << "<b>bold</b>.";
    QTest::newRow("empty") << QByteArray() << "";
  }

  void fullStopIsAddedUnlessTheMessageEndsAtOrBelowIt() {
    QFETCH(QByteArray, message);
    QFETCH(QString, shown);
    failing_window window;
    window.fail = [&] { throw intset::Exception(message.toStdString()); };
    const box_seen box = close_error_box_after([&] { click(window, "b_load_a"); });
    QCOMPARE(box.text, shown);
    QCOMPARE(box.title, QString("Numbrelle"));
    QCOMPARE(box.format, Qt::PlainText);
    QCOMPARE(text_of(window, "st_set_a"), QString("Set A  -  0 items"));
  }

  void theBusyCursorShowsWhileACommandRunsButNotInTheErrorBoxNorAfter() {
    failing_window window;
    const QCursor* during = nullptr;
    window.fail = [&] {
      during = QApplication::overrideCursor();
      QCOMPARE(during ? during->shape() : Qt::ArrowCursor, Qt::WaitCursor);
      throw intset::EOutOfMemory();
    };
    bool busy_in_box = true;
    on_modal<QMessageBox> answer([&](QMessageBox* box) {
      busy_in_box = QApplication::overrideCursor() != nullptr;
      box->button(QMessageBox::Ok)->click();
    });
    click(window, "b_load_a");
    QVERIFY(answer.answered());
    QVERIFY(during);
    QVERIFY(!busy_in_box);
    QVERIFY(!QApplication::overrideCursor());
  }

  void runningOutOfMemoryIsShownAsSuch() {
    failing_window window;
    window.fail = [] { throw std::bad_alloc(); };
    QCOMPARE(close_error_box_after([&] { click(window, "b_load_b"); }).text, QString("Out of memory."));
  }

  void includeAndInvertShowNoErrorForTextThatIsNoInteger() {
    shown_window shown;
    const box_seen box =
        close_error_box_after([&] { answer_prompt(shown.window, "b_include_b", "2147483648"); });
    QCOMPARE(box.title, QString("(no error box)"));
    QVERIFY(items_of(shown.window, "lb_set_b").isEmpty());
  }
};

// --- Contact links --------------------------------------------------------------------------------------

class Links : public QObject {
  Q_OBJECT

 private slots:
  void clickingALinkOpensExactlyItsAddress() {
    recording_window window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::mouseClick(control<QLabel>(window, "lweb"), Qt::LeftButton);
    QTest::mouseClick(control<QLabel>(window, "lemail"), Qt::LeftButton);
    QTest::mouseClick(control<QLabel>(window, "lemail"), Qt::RightButton);
    QTest::mouseClick(control<QLabel>(window, "llweb"), Qt::LeftButton);
    QCOMPARE(window.opened,
             QList<QUrl>({QUrl(text_of(window, "lweb")), QUrl("mailto:" + text_of(window, "lemail"))}));
    QCOMPARE(window.opened[1].toString(), QString("mailto:numbrelle@example.org"));
  }
};

// --- What a person sees ---------------------------------------------------------------------------------

class Rendering : public QObject {
  Q_OBJECT

 private slots:
  // Writes window.png into the build folder, to be looked at beside the tables.
  void windowRendersWithHeadersInTooltipColours() {
    shown_window shown;
    include(shown.window, "b_include_a",
            {std::numeric_limits<int>::min(), -5, 0, 12, std::numeric_limits<int>::max()});
    include(shown.window, "b_include_b", {12, 300});
    select_item(shown.window, "lb_set_a", "12");
    const QImage image = shown.window.grab().toImage();
    QCOMPARE(image.size(), QSize(632, 448));
    QVERIFY(image.save("window.png"));
    const QPalette& palette = shown.window.palette();
    QCOMPARE(image.pixelColor(4, 4), palette.color(QPalette::Window));
    QCOMPARE(image.pixelColor(27, 27), palette.color(QPalette::ToolTipBase));
    QCOMPARE(image.pixelColor(24, 24), palette.color(QPalette::ToolTipText));  // the border
    // Links are drawn in blue, status values in the link colour.
    const auto colours_in = [&](const char* name) {
      QSet<QRgb> colours;
      const QRect area = control<QWidget>(shown.window, name)->geometry();
      for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) colours << image.pixel(x, y);
      return colours;
    };
    QVERIFY(colours_in("lweb").contains(QColor(Qt::blue).rgb()));
    QVERIFY(colours_in("lemail").contains(QColor(Qt::blue).rgb()));
    QVERIFY(colours_in("ls_subset").contains(palette.color(QPalette::Link).rgb()));
    // A selected item is highlighted across the list's whole width.
    auto* list = control<QListView>(shown.window, "lb_set_a");
    const QRect row = list->visualRect(list->model()->index(3, 0));
    const QPoint right_end =
        list->viewport()->mapTo(&shown.window, QPoint(list->viewport()->width() - 2, row.center().y()));
    QCOMPARE(image.pixelColor(right_end), palette.color(QPalette::Highlight));
  }
};

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  int failed = 0;
  const auto run = [&](QObject&& tests) { failed += QTest::qExec(&tests, argc, argv); };
  run(Layout());
  run(StartTexts());
  run(Commands());
  run(Files());
  run(ErrorBox());
  run(Links());
  run(Rendering());
  failed += run_start_tests(argc, argv);
  return failed == 0 ? 0 : 1;
}

#include "fnubrel_window_test.moc"
