#include "app/fnubrel.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScreen>
#include <QUrl>
#include <QVBoxLayout>
#include <new>
#include <stdexcept>
#include <utility>

#include "app/member_list_model.h"
#include "ui_fnubrel.h"

namespace {

// The form's font is "MS Sans Serif". Where a system lacks it, a narrow sans of similar width takes its
// place, so that every caption still fits the fixed layout; a regular-width sans would run captions into
// their neighbours.
const char* const form_font_family = "MS Sans Serif";
const char* const narrow_fallbacks[] = {"Liberation Sans Narrow", "Arial Narrow"};
constexpr int form_font_pixels = 11;

constexpr int prompt_max_length = 255;
constexpr int prompt_width_in_characters = 40;
const char* const ok_caption = "OK";
const char* const cancel_caption = "Cancel";

// Windows lists every file under "*.*"; elsewhere the pattern needs a dot in the name, so there "*" stands
// in for it and a set file without an extension can be chosen too.
#ifdef Q_OS_WIN
const char* const file_filters[] = {"Numbrelle files (*.nbl)", "All files (*.*)"};
#else
const char* const file_filters[] = {"Numbrelle files (*.nbl)", "All files (*)"};
#endif
const char* const file_suffix = "nbl";

const char* const mailto = "mailto:";
constexpr char full_stop = '.';

// The wait cursor over the whole application while it lives, as long as a command runs.
class busy_cursor {
 public:
  busy_cursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~busy_cursor() { QApplication::restoreOverrideCursor(); }
  busy_cursor(const busy_cursor&) = delete;
  busy_cursor& operator=(const busy_cursor&) = delete;
};

// The usual cursor while a command waits for the person, in a prompt or a file dialog.
class waiting_for_input {
 public:
  waiting_for_input() : busy_(QApplication::overrideCursor() != nullptr) {
    if (busy_) QApplication::restoreOverrideCursor();
  }
  ~waiting_for_input() {
    if (busy_) QApplication::setOverrideCursor(Qt::WaitCursor);
  }
  waiting_for_input(const waiting_for_input&) = delete;
  waiting_for_input& operator=(const waiting_for_input&) = delete;

 private:
  bool busy_;
};

void use_narrow_fallback() {
  QStringList substitutes;
  for (const char* family : narrow_fallbacks) substitutes << QString::fromLatin1(family);
  QFont::insertSubstitutions(QString::fromLatin1(form_font_family), substitutes);
}

void set_up_file_dialog(QFileDialog& dialog) {
  QStringList filters;
  for (const char* filter : file_filters) filters << QString::fromLatin1(filter);
  dialog.setNameFilters(filters);
  dialog.selectNameFilter(filters.constFirst());
  dialog.setDefaultSuffix(QString::fromLatin1(file_suffix));
}

}  // namespace

Tfnubrel::Tfnubrel(QWidget* parent)
    : QWidget(parent),
      ui(std::make_unique<Ui::fnubrel>()),
      items_a(new member_list_model(this)),
      items_b(new member_list_model(this)),
      d_open(new QFileDialog(this)),
      d_save(new QFileDialog(this)) {
  Q_INIT_RESOURCE(fnubrel);  // the window icon, in this static library's resources
  use_narrow_fallback();
  ui->setupUi(this);

  // The window: fixed size from the form, a title bar with the system menu (and its close button) and
  // minimise but no maximise, at the form's position, which uic leaves to the code. Its background is the
  // palette's window colour, which Qt takes from the desktop's button face.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  move(112, 162);
  // The form's 8 points, pinned to 11 pixels like the rest of the layout.
  QFont form_font = font();
  form_font.setPixelSize(form_font_pixels);
  setFont(form_font);

  // Colours taken from the system's palette: tooltip colours for the headers, the link colour (the desktop's
  // colour for hot-tracked items) for the status values.
  for (QLabel* header : {ui->st_set_a, ui->st_set_b}) {
    header->setBackgroundRole(QPalette::ToolTipBase);
    header->setForegroundRole(QPalette::ToolTipText);
  }
  for (QLabel* value : {ui->ls_subset, ui->ls_superset, ui->ls_equality, ui->ls_empty_a, ui->ls_empty_b})
    value->setForegroundRole(QPalette::Link);
  // Captions and links are sized to their text; the status values are sized whenever their text is set.
  for (QLabel* label : {ui->l_subset, ui->l_superset, ui->l_equality, ui->l_empty_a, ui->l_empty_b, ui->llweb,
                        ui->lweb, ui->llemail, ui->lemail})
    label->adjustSize();

  ui->lb_set_a->setModel(items_a);
  ui->lb_set_b->setModel(items_b);

  d_open->setObjectName(QStringLiteral("d_open"));
  d_open->setAcceptMode(QFileDialog::AcceptOpen);
  d_open->setFileMode(QFileDialog::ExistingFile);
  set_up_file_dialog(*d_open);
  d_save->setObjectName(QStringLiteral("d_save"));
  d_save->setAcceptMode(QFileDialog::AcceptSave);
  d_save->setFileMode(QFileDialog::AnyFile);
  set_up_file_dialog(*d_save);

  const std::pair<QPushButton*, void (fnubrel_logic::*)()> commands[] = {
      {ui->b_empty_a, &fnubrel_logic::b_empty_aClick},
      {ui->b_include_a, &fnubrel_logic::b_include_aClick},
      {ui->b_exclude_a, &fnubrel_logic::b_exclude_aClick},
      {ui->b_invert_a, &fnubrel_logic::b_invert_aClick},
      {ui->b_load_a, &fnubrel_logic::b_load_aClick},
      {ui->b_save_a, &fnubrel_logic::b_save_aClick},
      {ui->b_undo_a, &fnubrel_logic::b_undo_aClick},
      {ui->b_assign_ab, &fnubrel_logic::b_assign_abClick},
      {ui->b_assign_ba, &fnubrel_logic::b_assign_baClick},
      {ui->b_intersection, &fnubrel_logic::b_intersectionClick},
      {ui->b_union, &fnubrel_logic::b_unionClick},
      {ui->b_difference, &fnubrel_logic::b_differenceClick},
      {ui->b_empty_b, &fnubrel_logic::b_empty_bClick},
      {ui->b_include_b, &fnubrel_logic::b_include_bClick},
      {ui->b_exclude_b, &fnubrel_logic::b_exclude_bClick},
      {ui->b_invert_b, &fnubrel_logic::b_invert_bClick},
      {ui->b_load_b, &fnubrel_logic::b_load_bClick},
      {ui->b_save_b, &fnubrel_logic::b_save_bClick},
  };
  for (const auto& command : commands) {
    const auto handler = command.second;
    connect(command.first, &QPushButton::clicked, this,
            [this, handler] { run([this, handler] { (this->*handler)(); }); });
  }
  ui->lweb->installEventFilter(this);
  ui->lemail->installEventFilter(this);

  FormCreate();
}

Tfnubrel::~Tfnubrel() { FormDestroy(); }

void Tfnubrel::load_files(const QStringList& files) {
  if (files.size() > 0) run([&] { load_a_from(files[0].toStdString()); });
  if (files.size() > 1) run([&] { load_b_from(files[1].toStdString()); });
}

// --- Links ----------------------------------------------------------------------------------------------

void Tfnubrel::lwebClick() { open_address(QUrl(ui->lweb->text())); }

void Tfnubrel::lemailClick() { open_address(QUrl(QString::fromLatin1(mailto) + ui->lemail->text())); }

void Tfnubrel::open_address(const QUrl& address) { QDesktopServices::openUrl(address); }

bool Tfnubrel::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease) {
    const auto* click = static_cast<QMouseEvent*>(event);
    const auto* label = qobject_cast<QLabel*>(watched);
    if (click->button() == Qt::LeftButton && label && label->rect().contains(click->position().toPoint())) {
      if (label == ui->lweb) run([this] { lwebClick(); });
      if (label == ui->lemail) run([this] { lemailClick(); });
    }
  }
  return QWidget::eventFilter(watched, event);
}

// --- Errors ---------------------------------------------------------------------------------------------

template <typename Command>
void Tfnubrel::run(Command command) {
  try {
    const busy_cursor busy;
    command();
  } catch (const std::bad_alloc&) {
    show_error(intset::EOutOfMemory().message());
  } catch (const std::exception& error) {
    show_error(error.what());
  }
}

// A message gets a full stop unless it is empty or already ends in one or in a character coded below it
// (a space, "!", ")" and the like). The view is left as the failed command left it.
void Tfnubrel::show_error(std::string message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > static_cast<unsigned char>(full_stop))
    message += full_stop;
  QMessageBox box(QMessageBox::Critical, QString::fromLatin1(application_title),
                  QString::fromStdString(message), QMessageBox::Ok, this);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

// --- View operations ------------------------------------------------------------------------------------

QListView* Tfnubrel::list_view(view_element list) const {
  if (list == view_element::lb_set_a) return ui->lb_set_a;
  if (list == view_element::lb_set_b) return ui->lb_set_b;
  throw std::invalid_argument("not a list");
}

member_list_model& Tfnubrel::list_model(view_element list) const {
  if (list == view_element::lb_set_a) return *items_a;
  if (list == view_element::lb_set_b) return *items_b;
  throw std::invalid_argument("not a list");
}

QLabel* Tfnubrel::text_label(view_element element) const {
  switch (element) {
    case view_element::st_set_a:
      return ui->st_set_a;
    case view_element::st_set_b:
      return ui->st_set_b;
    case view_element::ls_subset:
      return ui->ls_subset;
    case view_element::ls_superset:
      return ui->ls_superset;
    case view_element::ls_equality:
      return ui->ls_equality;
    case view_element::ls_empty_a:
      return ui->ls_empty_a;
    case view_element::ls_empty_b:
      return ui->ls_empty_b;
    case view_element::lb_set_a:
    case view_element::lb_set_b:
      break;
  }
  throw std::invalid_argument("not a text element");
}

// Leaves the list as clearing and refilling it would: the new items, none selected, scrolled to the top.
void Tfnubrel::replace_items(view_element list, const member_array& members) {
  list_model(list).replace(members);
  list_view(list)->scrollToTop();
}

void Tfnubrel::set_text(view_element element, const std::string& text) {
  QLabel* label = text_label(element);
  label->setText(QString::fromStdString(text));
  if (label != ui->st_set_a && label != ui->st_set_b) label->adjustSize();  // headers keep their fixed size
}

std::optional<std::string> Tfnubrel::selected_item(view_element list) {
  const QModelIndexList selected = list_view(list)->selectionModel()->selectedRows();
  if (selected.isEmpty()) return std::nullopt;
  return list_model(list).item(selected.constFirst().row());
}

// A fixed-size box centred on the screen: the prompt above an empty one-line field, then OK and Cancel.
std::optional<std::string> Tfnubrel::prompt(const std::string& caption, const std::string& text) {
  QDialog dialog(this);
  dialog.setWindowTitle(QString::fromStdString(caption));
  auto* label = new QLabel(QString::fromStdString(text), &dialog);
  auto* input = new QLineEdit(&dialog);
  input->setMaxLength(prompt_max_length);
  input->setMinimumWidth(input->fontMetrics().averageCharWidth() * prompt_width_in_characters);
  label->setBuddy(input);
  auto* buttons = new QDialogButtonBox(&dialog);
  buttons->addButton(QString::fromLatin1(ok_caption), QDialogButtonBox::AcceptRole);
  buttons->addButton(QString::fromLatin1(cancel_caption), QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(label);
  layout->addWidget(input);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  dialog.adjustSize();
  dialog.move(screen()->geometry().center() - dialog.rect().center());
  const waiting_for_input waiting;
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return input->text().toStdString();
}

std::optional<std::string> Tfnubrel::choose_open_file() { return choose_file(*d_open, last_open); }

std::optional<std::string> Tfnubrel::choose_save_file() { return choose_file(*d_save, last_save); }

// Each dialog opens with the name last chosen in it, whichever set that was for.
std::optional<std::string> Tfnubrel::choose_file(QFileDialog& dialog, QString& last_choice) {
  if (!last_choice.isEmpty()) dialog.selectFile(last_choice);
  const waiting_for_input waiting;
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  last_choice = chosen.constFirst();
  return last_choice.toStdString();
}
