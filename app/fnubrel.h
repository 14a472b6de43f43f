// The main window: the form of fnubrel.ui with every button bound to its command, the view operations the
// window logic writes and reads through, the two contact links, and the error box for what a command raises.
#ifndef APP_FNUBREL_H_
#define APP_FNUBREL_H_

#include <QString>
#include <QStringList>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>

#include "app/fnubrel_logic.h"
class QFileDialog;
class QLabel;
class QListView;
class QUrl;
class member_list_model;

namespace Ui {
class fnubrel;
}

// The application's title: the task bar's name for it and the title of every error box.
inline constexpr char application_title[] = "Numbrelle";

class Tfnubrel : public QWidget, public fnubrel_logic {
  Q_OBJECT

 public:
  // Builds the window from its form and runs FormCreate, so every text is filled before it is shown.
  explicit Tfnubrel(QWidget* parent = nullptr);
  // Runs FormDestroy.
  ~Tfnubrel() override;

  // Loads files[0] into A and files[1] into B, as the Load buttons would, each failure shown in the error
  // box; further names are ignored.
  void load_files(const QStringList& files);

  // The contact links: the desktop opens the web address, or a new mail to the e-mail address.
  void lwebClick();
  void lemailClick();

 protected:
  // --- View operations ---
  void replace_items(view_element list, const member_array& members) override;
  void set_text(view_element element, const std::string& text) override;
  std::optional<std::string> selected_item(view_element list) override;
  std::optional<std::string> prompt(const std::string& caption, const std::string& text) override;
  std::optional<std::string> choose_open_file() override;
  std::optional<std::string> choose_save_file() override;

  // Hands `address` to the desktop's default program for it; whether that worked is not checked.
  virtual void open_address(const QUrl& address);

  // Turns a left click on a link label into its handler.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Runs one command under the busy cursor. What it raises is shown in the error box, and the window
  // carries on as it is.
  template <typename Command>
  void run(Command command);
  void show_error(std::string message);

  QListView* list_view(view_element list) const;
  member_list_model& list_model(view_element list) const;
  QLabel* text_label(view_element element) const;
  std::optional<std::string> choose_file(QFileDialog& dialog, QString& last_choice);

  std::unique_ptr<Ui::fnubrel> ui;
  member_list_model* items_a;  // the items of lb_set_a and lb_set_b, owned by the window
  member_list_model* items_b;
  QFileDialog* d_open;
  QFileDialog* d_save;
  QString last_open, last_save;  // the file names last chosen in d_open and d_save
};

#endif  // APP_FNUBREL_H_
