// The program: the application titled "Numbrelle", its one window, and the event loop until it is closed.
#include <QApplication>

#include "app/fnubrel.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QString::fromLatin1(application_title));
  QApplication::setDesktopFileName(QStringLiteral("numbrelle"));
  Tfnubrel fnubrel;
  fnubrel.show();
  return application.exec();
}
