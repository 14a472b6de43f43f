#include "app/command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr char program_name[] = "numbrelle";
constexpr qsizetype max_set_files = 2;

void describe(QCommandLineParser& parser) {
  parser.setApplicationDescription(QStringLiteral(
      "Two sets of 32-bit integers side by side, in a window: include, exclude and invert members,\n"
      "combine and compare the sets, save and load them."));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument(QStringLiteral("A"), QStringLiteral("Set file loaded into A at start."),
                               QStringLiteral("[A"));
  parser.addPositionalArgument(QStringLiteral("B"), QStringLiteral("Set file loaded into B at start."),
                               QStringLiteral("[B]]"));
}

}  // namespace

// An application object of its own reads the arguments here. Qt's options for the window's application
// (-platform and the like) are unknown to it, so it acts on --help and --version alone and leaves every
// error to set_files().
void answer_help_or_version(int argc, char* argv[]) {
  const QCoreApplication reader(argc, argv);
  QCoreApplication::setApplicationName(QString::fromLatin1(program_name));
  QCoreApplication::setApplicationVersion(QStringLiteral(NUMBRELLE_VERSION));
  QCommandLineParser parser;
  describe(parser);
  parser.parse(QCoreApplication::arguments());
  if (parser.isSet(QStringLiteral("help"))) parser.showHelp();
  if (parser.isSet(QStringLiteral("version"))) parser.showVersion();
}

QStringList set_files(const QCoreApplication& application) {
  QCommandLineParser parser;
  describe(parser);
  parser.process(application);
  const QStringList files = parser.positionalArguments();
  if (files.size() > max_set_files) {
    std::fprintf(stderr, "%s: at most two set files, A and B, not %d\n", program_name,
                 static_cast<int>(files.size()));
    std::exit(EXIT_FAILURE);
  }
  return files;
}
