// A download's file stays out of sight until it is put in place, and putting
// it in place never costs an earlier copy unless the new one is whole.

#include "testfiles.h"
#include "transfer/stagedbatch.h"
#include "transfer/stagedfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

// Writes `content` the way the FTP client does: opened by the writer, then
// in pieces.
std::unique_ptr<StagedFile> staged(const QString &target, const QByteArray &content, int piece = 4096)
{
    auto file = std::make_unique<StagedFile>(target);
    if (!file->open(QIODevice::WriteOnly))
        return nullptr;
    for (qsizetype at = 0; at < content.size(); at += piece)
        file->write(content.constData() + at, qMin<qsizetype>(piece, content.size() - at));
    file->close();
    return file;
}

} // namespace

class tst_StagedFiles : public QObject
{
    Q_OBJECT

private slots:
    void putInPlace_data();
    void putInPlace();
    void droppedFileLeavesEarlierCopy();
    void failedReplacementKeepsTheRest();
    void unwritableFolderNamesTheTarget();
    void linkIsReplacedNotFollowed();
    void batchFillsByCountAndBytes();
};

void tst_StagedFiles::putInPlace_data()
{
    QTest::addColumn<bool>("earlierCopy");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("piece");

    QTest::newRow("new file") << false << 1000 << 4096;
    QTest::newRow("replaces an earlier copy") << true << 1000 << 4096;
    QTest::newRow("empty file over an earlier copy") << true << 0 << 4096;
    // Past the writeback step, in pieces that do not fall on it.
    QTest::newRow("20 MiB in odd pieces") << true << (20 << 20) + 17 << 65521;
}

void tst_StagedFiles::putInPlace()
{
    QFETCH(bool, earlierCopy);
    QFETCH(int, size);
    QFETCH(int, piece);

    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("B.DAT"));
    if (earlierCopy) {
        writeFile(target, "earlier copy");
        QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner));
    }
    const QByteArray content = randomBytes(size, 3);

    std::unique_ptr<StagedFile> file = staged(target, content, piece);
    QVERIFY(file);
    QCOMPARE(file->error(), QFileDevice::NoError);
    // Until it is put in place, only a hidden temporary file is new.
    QCOMPARE(readFile(target), earlierCopy ? QByteArray("earlier copy") : QByteArray("<missing>"));
    const QStringList during = namesIn(dir.path());
    QCOMPARE(during.size(), earlierCopy ? 2 : 1);
    QVERIFY(during.first().startsWith(u'.'));

    StagedBatch batch;
    batch.add({file->release(), file->targetPath(), content.size(), 7});
    file.reset(); // a released file is not removed with its object
    QCOMPARE(batch.commit(), QList<int>());
    QVERIFY(batch.isEmpty());

    QCOMPARE(namesIn(dir.path()), QStringList{QStringLiteral("B.DAT")});
    QVERIFY(readFile(target) == content);
    if (earlierCopy)
        QCOMPARE(QFile::permissions(target) & ~QFileDevice::Permissions(0x0f00), // not the "user" bits
                 QFile::ReadOwner | QFile::WriteOwner);
}

void tst_StagedFiles::droppedFileLeavesEarlierCopy()
{
    QTemporaryDir dir;
    const QString first = dir.filePath(QStringLiteral("A.DAT"));
    const QString second = dir.filePath(QStringLiteral("B.DAT"));
    writeFile(first, "earlier A");
    writeFile(second, "earlier B");

    // A transfer that broke off: its object goes without being released.
    {
        auto broken = std::make_unique<StagedFile>(first);
        QVERIFY(broken->open(QIODevice::WriteOnly));
        broken->write("half of");
    }
    // Files that arrived whole but whose operation is thrown away.
    {
        StagedBatch batch;
        std::unique_ptr<StagedFile> whole = staged(second, "new B");
        batch.add({whole->release(), second, 5, 1});
        QCOMPARE(namesIn(dir.path()).size(), 3);
    }
    QCOMPARE(namesIn(dir.path()), QStringList({QStringLiteral("A.DAT"), QStringLiteral("B.DAT")}));
    QCOMPARE(readFile(first), QByteArray("earlier A"));
    QCOMPARE(readFile(second), QByteArray("earlier B"));
}

void tst_StagedFiles::failedReplacementKeepsTheRest()
{
    QTemporaryDir dir;
    // A folder stands where the second file should go: it cannot be replaced.
    const QString blocked = dir.filePath(QStringLiteral("S.DAT"));
    QVERIFY(QDir().mkpath(blocked + QStringLiteral("/inside")));
    const QStringList targets{dir.filePath(QStringLiteral("A.DAT")), blocked, dir.filePath(QStringLiteral("T.TXT"))};

    StagedBatch batch;
    for (int i = 0; i < targets.size(); ++i) {
        std::unique_ptr<StagedFile> file = staged(targets.at(i), QByteArray("content ") + QByteArray::number(i));
        QVERIFY(file);
        batch.add({file->release(), targets.at(i), 9, 100 + i});
    }
    QCOMPARE(batch.commit(), QList<int>{101});

    QCOMPARE(namesIn(dir.path()), QStringList({QStringLiteral("A.DAT"), QStringLiteral("S.DAT"), QStringLiteral("T.TXT")}));
    QCOMPARE(readFile(targets.at(0)), QByteArray("content 0"));
    QCOMPARE(namesIn(blocked), QStringList{QStringLiteral("inside")});
    QCOMPARE(readFile(targets.at(2)), QByteArray("content 2"));
}

void tst_StagedFiles::unwritableFolderNamesTheTarget()
{
    QTemporaryDir dir;
    // A file stands where the folder should be.
    writeFile(dir.filePath(QStringLiteral("TEXT")), "not a folder");
    const QString target = dir.filePath(QStringLiteral("TEXT/T.TXT"));

    StagedFile file(target);
    QVERIFY(!file.open(QIODevice::WriteOnly));
    QVERIFY2(file.errorString().startsWith(QDir::toNativeSeparators(target) + QStringLiteral(": ")),
             qPrintable(file.errorString()));
    QCOMPARE(namesIn(dir.path()), QStringList{QStringLiteral("TEXT")});

    // Reading is not what it is for.
    StagedFile reader(dir.filePath(QStringLiteral("R.DAT")));
    QVERIFY(!reader.open(QIODevice::ReadOnly));
    QCOMPARE(namesIn(dir.path()), QStringList{QStringLiteral("TEXT")});
}

// A link in the base folder may point anywhere; the download replaces the
// link and writes nothing where it points.
void tst_StagedFiles::linkIsReplacedNotFollowed()
{
    QTemporaryDir outside;
    QTemporaryDir base;
    const QString elsewhere = outside.filePath(QStringLiteral("OTHER.DAT"));
    writeFile(elsewhere, "not ours");
    const QString target = base.filePath(QStringLiteral("B.DAT"));
    QVERIFY(QFile::link(elsewhere, target));

    std::unique_ptr<StagedFile> file = staged(target, "fetched");
    QVERIFY(file);
    StagedBatch batch;
    batch.add({file->release(), target, 7, 1});
    QCOMPARE(batch.commit(), QList<int>());

    QVERIFY(!QFileInfo(target).isSymLink());
    QCOMPARE(readFile(target), QByteArray("fetched"));
    QCOMPARE(readFile(elsewhere), QByteArray("not ours"));
    QCOMPARE(namesIn(outside.path()), QStringList{QStringLiteral("OTHER.DAT")});
}

void tst_StagedFiles::batchFillsByCountAndBytes()
{
    QTemporaryDir dir;
    StagedBatch byCount;
    for (int i = 0; i < StagedBatch::maxFiles; ++i) {
        QVERIFY(!byCount.isFull());
        byCount.add({dir.filePath(QStringLiteral("none")), dir.filePath(QStringLiteral("x")), 1, i});
    }
    QVERIFY(byCount.isFull());
    byCount.discard();
    QVERIFY(byCount.isEmpty() && !byCount.isFull());

    StagedBatch byBytes;
    byBytes.add({dir.filePath(QStringLiteral("none")), dir.filePath(QStringLiteral("x")), StagedBatch::maxBytes - 1, 1});
    QVERIFY(!byBytes.isFull());
    byBytes.add({dir.filePath(QStringLiteral("none")), dir.filePath(QStringLiteral("y")), 1, 2});
    QVERIFY(byBytes.isFull());
}

QTEST_GUILESS_MAIN(tst_StagedFiles)
#include "tst_stagedfiles.moc"
