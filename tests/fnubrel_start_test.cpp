// How the demo starts: the program's --help and --version, answered without a display, its refusal of
// arguments it does not take, and the set files named at start loaded into the window's A and B.
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include "app/fnubrel.h"
#include "intset/tnumbrelle.h"
#include "tests/window_test_support.h"

namespace {

struct run_result {
  int status = -1;
  QString out, err;
};

// Runs the numbrelle program with `arguments` on the platform `platform`, with no display to reach.
run_result run_program(const QStringList& arguments, const QString& platform) {
  QProcess program;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.remove(QStringLiteral("DISPLAY"));
  environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
  environment.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
  program.setProcessEnvironment(environment);
  program.start(QStringLiteral(NUMBRELLE_PROGRAM), arguments);
  if (!program.waitForFinished(60000)) {
    program.kill();
    program.waitForFinished();
    return {};
  }
  return {program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1,
          QString::fromLocal8Bit(program.readAllStandardOutput()),
          QString::fromLocal8Bit(program.readAllStandardError())};
}

QString saved_set(const QTemporaryDir& folder, const char* name,
                  std::initializer_list<std::int32_t> members) {
  const QString file = folder.filePath(QString::fromLatin1(name));
  intset::tnumbrelle(members).save_to_file(file.toStdString());
  return file;
}

class CommandLine : public QObject {
  Q_OBJECT

 private slots:
  // On xcb without DISPLAY the window's application could not start: the answers come before it.
  void helpAndVersionNeedNoDisplay() {
    const run_result help = run_program({"--help"}, "xcb");
    QCOMPARE(help.status, 0);
    QVERIFY2(help.out.contains(QRegularExpression("Usage: \\S*numbrelle \\[options\\] \\[A \\[B\\]\\]")),
             qPrintable(help.out));
    for (const char* entry :
         {"--help", "--version", "Set file loaded into A at start.", "Set file loaded into B at start."})
      QVERIFY2(help.out.contains(QString::fromLatin1(entry)), entry);
    const run_result version = run_program({"--version"}, "xcb");
    QCOMPARE(version.status, 0);
    QCOMPARE(version.out, QStringLiteral("numbrelle " NUMBRELLE_VERSION "\n"));
  }

  void anUnknownOptionOrAThirdFileEndsTheProgramWithStatus1() {
    const run_result unknown = run_program({"--colour"}, "offscreen");
    QCOMPARE(unknown.status, 1);
    QVERIFY2(unknown.err.contains("Unknown option 'colour'"), qPrintable(unknown.err));
    const run_result three = run_program({"a.nbl", "b.nbl", "c.nbl"}, "offscreen");
    QCOMPARE(three.status, 1);
    QVERIFY2(three.err.endsWith("numbrelle: at most two set files, A and B, not 3\n"), qPrintable(three.err));
  }

  void filesNamedAtStartLoadIntoAAndB() {
    QTemporaryDir folder;
    Tfnubrel window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.load_files({saved_set(folder, "a.nbl", {-3, 7}), saved_set(folder, "b", {300})});
    QCOMPARE(items_of(window, "lb_set_a"), QStringList({"-3", "7"}));
    QCOMPARE(items_of(window, "lb_set_b"), QStringList({"300"}));
    QCOMPARE(text_of(window, "ls_empty_b"), QString("False"));
  }

  // Each file fails or loads on its own, a failure shown in the error box as Load shows it.
  void aFileThatFailsAtStartIsShownAndTheOtherStillLoads() {
    QTemporaryDir folder;
    const QString gone = folder.filePath("gone.nbl");
    Tfnubrel window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const box_seen box = close_error_box_after([&] {
      window.load_files({gone, saved_set(folder, "b.nbl", {1, 2})});
    });
    QCOMPARE(box.title, QString("Numbrelle"));
    QVERIFY2(box.text.startsWith("Cannot open file \"" + gone + "\". "), qPrintable(box.text));
    QVERIFY(items_of(window, "lb_set_a").isEmpty());
    QCOMPARE(items_of(window, "lb_set_b"), QStringList({"1", "2"}));
  }
};

}  // namespace

int run_start_tests(int argc, char* argv[]) {
  CommandLine tests;
  return QTest::qExec(&tests, argc, argv);
}

#include "fnubrel_start_test.moc"
