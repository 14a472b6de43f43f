// What the window's tests share: finding a control by its name, reading labels and lists, clicking buttons,
// and answering a modal dialog or error box from inside its own event loop.
#ifndef TESTS_WINDOW_TEST_SUPPORT_H_
#define TESTS_WINDOW_TEST_SUPPORT_H_

#include <QAbstractItemModel>
#include <QApplication>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <utility>

template <typename Control>
inline Control* control(const QWidget& window, const char* name) {
  auto* found = window.findChild<Control*>(QString::fromLatin1(name));
  if (!found) qFatal("no control %s", name);
  return found;
}

inline QString text_of(const QWidget& window, const char* name) {
  return control<QLabel>(window, name)->text();
}

inline QStringList items_of(const QWidget& window, const char* list) {
  const QAbstractItemModel* model = control<QListView>(window, list)->model();
  QStringList items;
  for (int row = 0; row < model->rowCount(); ++row) items << model->index(row, 0).data().toString();
  return items;
}

inline void click(const QWidget& window, const char* button) {
  QTest::mouseClick(control<QPushButton>(window, button), Qt::LeftButton);
}

// Answers the first modal dialog of type `Dialog` that opens while this object lives, from inside that
// dialog's own event loop. `answer` must close it; checks belong after the click that opened it.
template <typename Dialog>
class on_modal {
 public:
  explicit on_modal(std::function<void(Dialog*)> answer) : answer_(std::move(answer)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
      if (!dialog) return;
      timer_.stop();
      answered_ = true;
      answer_(dialog);
    });
    timer_.start(5);
  }
  bool answered() const { return answered_; }

 private:
  std::function<void(Dialog*)> answer_;
  QTimer timer_;
  bool answered_ = false;
};

// What an error box showed before it was closed with its OK button.
struct box_seen {
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  Qt::TextFormat format = Qt::AutoText;
  int buttons = 0;
  bool ok_button = false;
};

inline box_seen close_error_box_after(const std::function<void()>& action) {
  box_seen seen;
  on_modal<QMessageBox> answer([&](QMessageBox* box) {
    seen = {box->windowTitle(),
            box->text(),
            box->icon(),
            box->textFormat(),
            int(box->buttons().size()),
            box->button(QMessageBox::Ok) != nullptr};
    box->button(QMessageBox::Ok)->click();
  });
  action();
  if (!answer.answered()) seen.title = "(no error box)";
  return seen;
}

// The test classes of fnubrel_start_test.cpp, run by the window test's main().
int run_start_tests(int argc, char* argv[]);

#endif  // TESTS_WINDOW_TEST_SUPPORT_H_
