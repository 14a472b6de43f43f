// The set file's MIME type (app/numbrelle-mime.xml) as a desktop finds it: by the extension .nbl, or by the
// "NBL1" that starts a file the library wrote, whatever its name. Run with XDG_DATA_DIRS naming a folder
// that holds that file alone, so that no other type can match.
#include <QFile>
#include <QMimeDatabase>
#include <QTemporaryDir>
#include <QTest>

#include "intset/tnumbrelle.h"

namespace {

const QString set_type = QStringLiteral("application/x-numbrelle-set");

class SetFileType : public QObject {
  Q_OBJECT

 private slots:
  void aSavedSetIsKnownByItsBytesWithoutAnExtension() {
    QTemporaryDir folder;
    const QString file = folder.filePath("members");
    intset::tnumbrelle{5, 70000}.save_to_file(file.toStdString());
    QCOMPARE(QMimeDatabase().mimeTypeForFile(file, QMimeDatabase::MatchContent).name(), set_type);
  }

  void aNameEndingInNblIsKnownWithoutItsBytes() {
    QCOMPARE(QMimeDatabase().mimeTypeForFile("never-written.nbl", QMimeDatabase::MatchExtension).name(),
             set_type);
  }

  void otherBytesAreNot() {
    QTemporaryDir folder;
    QFile text(folder.filePath("members"));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("5\n70000\n");
    text.close();
    QVERIFY(QMimeDatabase().mimeTypeForFile(text.fileName(), QMimeDatabase::MatchContent).name() != set_type);
  }
};

}  // namespace

QTEST_GUILESS_MAIN(SetFileType)
#include "set_file_type_test.moc"
