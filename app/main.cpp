// The program: `numbrelle [A [B]]`, the application titled "Numbrelle", its one window with the named set
// files loaded into A and B, and the event loop until it is closed.
#include <QApplication>

#include "app/command_line.h"
#include "app/fnubrel.h"

int main(int argc, char* argv[]) {
  answer_help_or_version(argc, argv);
  QApplication application(argc, argv);
  QApplication::setApplicationName(QString::fromLatin1(application_title));
  QApplication::setDesktopFileName(QStringLiteral("numbrelle"));
  const QStringList files = set_files(application);
  Tfnubrel fnubrel;
  fnubrel.show();
  fnubrel.load_files(files);
  return application.exec();
}
