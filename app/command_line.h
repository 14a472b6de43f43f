// The numbrelle program's command line: `numbrelle [A [B]]`, the set files loaded into A and B at start, with
// --help and --version.
#ifndef APP_COMMAND_LINE_H_
#define APP_COMMAND_LINE_H_

#include <QStringList>

class QCoreApplication;

// Prints the help or the version and ends the program when the arguments ask for either; returns otherwise.
// Runs before the window's application exists, so that neither needs a display.
void answer_help_or_version(int argc, char* argv[]);

// The set files named on the command line of `application`, at most two. Ends the program with a message
// and status 1 on an unknown option or a third file.
QStringList set_files(const QCoreApplication& application);

#endif  // APP_COMMAND_LINE_H_
