// The two local folder checks, over the folder contents that matter.

#include "instrumentfixture.h"

#include "transfer/nametables.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

class tst_FolderCheck : public QObject
{
    Q_OBJECT

private slots:
    void checks_data();
    void checks();
    void missingFolder();
};

namespace {

const QStringList dataSet = {"DATA/", "INIE91.CFG", "INIE91.FLS"};
const QStringList updateSet = {"DATA/", "TEXT/", "FONTS/", "COMMANDS.TXT", "INIE91.CFG", "INIE91.FLS", "R9DIGIT"};

QStringList lowerCased(const QStringList &names)
{
    QStringList lower;
    for (const QString &name : names)
        lower << name.toLower();
    return lower;
}

QStringList settings(int count)
{
    QStringList names;
    for (int i = 0; i < count; ++i)
        names << settingsFileNames[i];
    return names;
}

} // namespace

void tst_FolderCheck::checks_data()
{
    // Entries ending in '/' are folders, the others files.
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<bool>("restore");
    QTest::addColumn<bool>("update");

    QTest::newRow("data set") << dataSet << true << false;
    QTest::newRow("data set, DATA in lower case") << QStringList({"data/", "INIE91.CFG", "INIE91.FLS"}) << false << false;
    QTest::newRow("data set, DATA in mixed case") << QStringList({"Data/", "INIE91.CFG", "INIE91.FLS"}) << false << false;
    QTest::newRow("data set and one more file") << dataSet + QStringList{"NOTES.TXT"} << false << false;
    QTest::newRow("data set and a hidden file") << dataSet + QStringList{".hidden"} << true << false;
    QTest::newRow("any three root names") << QStringList({"TEXT/", "FONTS/", "R9DIGIT"}) << true << false;
    QTest::newRow("DATA as a file") << QStringList({"DATA", "INIE91.CFG", "INIE91.FLS"}) << true << false;
    QTest::newRow("two of the data set") << QStringList({"DATA/", "INIE91.CFG"}) << false << false;
    QTest::newRow("update set") << updateSet << false << true;
    QTest::newRow("update set in lower case") << lowerCased(updateSet) << false << true;
    QTest::newRow("update set and 12 settings files") << updateSet + settings(12) << false << true;
    QTest::newRow("update set and 13 settings files") << updateSet + settings(13) << false << false;
    QTest::newRow("update set and 14 settings files") << updateSet + settings(14) << false << false;
    QTest::newRow("update set and settings in lower case") << updateSet + lowerCased(settings(5)) << false << true;
    QTest::newRow("update set and a file of another name") << updateSet + QStringList{"README"} << false << false;
    QStringList withoutDigit = updateSet;
    withoutDigit.removeAll("R9DIGIT");
    QTest::newRow("update set without R9DIGIT") << withoutDigit << false << false;
    QStringList digitFolder = withoutDigit;
    digitFolder << "R9DIGIT/";
    QTest::newRow("R9DIGIT as a folder") << digitFolder << false << true;
    QTest::newRow("update set with DATA twice in two cases") << updateSet + QStringList{"data/"} << false << false;
    QTest::newRow("worked example") << QStringList({"commands.txt", "CONSYS.INI", "DATA/", "FONTS/", "INIE91.CFG",
                                                    "INIE91.FLS", "R9DIGIT", "STARTPAGE", "TEXT/"})
                                    << false << true;
    QTest::newRow("empty folder") << QStringList() << false << false;
}

void tst_FolderCheck::checks()
{
    QFETCH(QStringList, entries);
    QFETCH(bool, restore);
    QFETCH(bool, update);

    InstrumentFixture f;
    QTemporaryDir base;
    for (const QString &entry : entries) {
        if (entry.endsWith('/'))
            QVERIFY(QDir(base.path()).mkdir(entry.chopped(1)));
        else
            writeFile(base.filePath(entry), entry.toLatin1());
    }
    f.localpath()->setText(base.path());
    QCOMPARE(f.window->checkRestoreFolder(), restore);
    QCOMPARE(f.window->checkUpdateFolder(), update);
}

void tst_FolderCheck::missingFolder()
{
    InstrumentFixture f;
    f.localpath()->setText(f.localDir.filePath("no/such/folder"));
    QVERIFY(!f.window->checkRestoreFolder());
    QVERIFY(!f.window->checkUpdateFolder());
}

QTEST_MAIN(tst_FolderCheck)
#include "tst_foldercheck.moc"
