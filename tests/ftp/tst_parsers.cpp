// The parsers of what an FTP server sends: listing lines, replies, and the
// addresses of passive replies.
#include "ftp/listparser.h"
#include "ftp/passivereply.h"
#include "ftp/replyparser.h"

#include <QTest>

class TestParsers : public QObject
{
    Q_OBJECT

private slots:
    void parsesEntries_data();
    void parsesEntries();
    void rejectsOtherLines_data();
    void rejectsOtherLines();
    void splitsReplies_data();
    void splitsReplies();
    void sameRepliesWhateverTheChunks();
    void rejectsBadInput_data();
    void rejectsBadInput();
    void passiveReply_data();
    void passiveReply();
};

namespace {

const QDate today(2026, 3, 15);

enum Kind { File, Dir, Link, Other };

QDateTime at(int y, int mo, int d, int h = 0, int mi = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi));
}

} // namespace

void TestParsers::parsesEntries_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("name");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("owner");
    QTest::addColumn<QString>("group");
    QTest::addColumn<QDateTime>("modified");

    QTest::newRow("unix file with time")
            << "-rw-r--r--   1 root     root         1234 Mar 12 13:06 INIE91.CFG"
            << "INIE91.CFG" << qint64(1234) << int(File) << "" << "root" << "root" << at(2026, 3, 12, 13, 6);
    QTest::newRow("unix dir")
            << "drwxr-xr-x   2 owner    group        4096 Jan  1  2024 DATA"
            << "DATA" << qint64(4096) << int(Dir) << "" << "owner" << "group" << at(2024, 1, 1);
    QTest::newRow("name with blanks")
            << "-rw-r--r--   1 u g 10 Feb  3 09:15 my file  name.txt"
            << "my file  name.txt" << qint64(10) << int(File) << "" << "u" << "g" << at(2026, 2, 3, 9, 15);
    QTest::newRow("name starting with a blank")
            << "-rw-r--r--   1 u g 10 Feb  3 09:15  lead"
            << " lead" << qint64(10) << int(File) << "" << "u" << "g" << at(2026, 2, 3, 9, 15);
    QTest::newRow("name that looks like a date")
            << "-rw-r--r--   1 u g 10 Feb  3 09:15 Mar 4 2020 x"
            << "Mar 4 2020 x" << qint64(10) << int(File) << "" << "u" << "g" << at(2026, 2, 3, 9, 15);
    QTest::newRow("symbolic link")
            << "lrwxrwxrwx   1 root root 11 Mar  1 10:00 current -> DATA/IPA_BD1"
            << "current" << qint64(11) << int(Link) << "DATA/IPA_BD1" << "root" << "root" << at(2026, 3, 1, 10, 0);
    QTest::newRow("over 4 GiB")
            << "-rw-r--r--   1 root root 5368709121 Jan 02  2025 big.bin"
            << "big.bin" << qint64(5368709121LL) << int(File) << "" << "root" << "root" << at(2025, 1, 2);
    QTest::newRow("largest 64-bit size")
            << "-rw-r--r--   1 root root 9223372036854775807 Jan 02  2025 huge"
            << "huge" << qint64(9223372036854775807LL) << int(File) << "" << "root" << "root" << at(2025, 1, 2);
    // Too large for 64 bits: kept, with size -1, for the caller to refuse.
    QTest::newRow("2^63")
            << "-rw-r--r--   1 root root 9223372036854775808 Jan 02  2025 over"
            << "over" << qint64(-1) << int(File) << "" << "root" << "root" << at(2025, 1, 2);
    QTest::newRow("twenty digits")
            << "-rw-r--r-- 1 root root 99999999999999999999 Mar 12 13:06 x"
            << "x" << qint64(-1) << int(File) << "" << "root" << "root" << at(2026, 3, 12, 13, 6);
    QTest::newRow("character device")
            << "crw-rw-rw-   1 root root   1,   3 Jan  1  2020 null"
            << "null" << qint64(0) << int(Other) << "" << "root" << "root" << at(2020, 1, 1);
    QTest::newRow("tab separated, CR at the end")
            << "-rw-r--r--\t1\troot\troot\t3\tMar 12 13:06 tabbed\r"
            << "tabbed" << qint64(3) << int(File) << "" << "root" << "root" << at(2026, 3, 12, 13, 6);

    QTest::newRow("dos dir")
            << "12-07-26  01:06PM       <DIR>          FONTS"
            << "FONTS" << qint64(0) << int(Dir) << "" << "" << "" << at(2026, 12, 7, 13, 6);
    QTest::newRow("dos file")
            << "12-07-26  01:06AM                 1234 INIE91.CFG"
            << "INIE91.CFG" << qint64(1234) << int(File) << "" << "" << "" << at(2026, 12, 7, 1, 6);
    QTest::newRow("dos midnight, four-digit year")
            << "03-01-2024  12:30AM   6000000000 big.dat"
            << "big.dat" << qint64(6000000000LL) << int(File) << "" << "" << "" << at(2024, 3, 1, 0, 30);
    QTest::newRow("dos size too large for 64 bits")
            << "03-01-2024  12:30AM   123456789012345678901234 big.dat"
            << "big.dat" << qint64(-1) << int(File) << "" << "" << "" << at(2024, 3, 1, 0, 30);
}

void TestParsers::parsesEntries()
{
    QFETCH(QString, line);
    QFETCH(QString, name);
    QFETCH(qint64, size);
    QFETCH(int, kind);
    QFETCH(QString, target);
    QFETCH(QString, owner);
    QFETCH(QString, group);
    QFETCH(QDateTime, modified);

    const UrlInfo info = parseListLine(line, today);
    QVERIFY(info.isValid());
    QCOMPARE(info.name(), name);
    QCOMPARE(info.size(), size);
    QCOMPARE(info.isFile(), kind == File);
    QCOMPARE(info.isDir(), kind == Dir);
    QCOMPARE(info.isSymLink(), kind == Link);
    QCOMPARE(info.symLinkTarget(), target);
    QCOMPARE(info.owner(), owner);
    QCOMPARE(info.group(), group);
    QCOMPARE(info.lastModified(), modified);
}

void TestParsers::rejectsOtherLines_data()
{
    QTest::addColumn<QString>("line");
    QTest::newRow("total") << "total 12";
    QTest::newRow("empty") << "";
    QTest::newRow("no name") << "-rw-r--r-- 1 root root 12 Mar 12 13:06";
    QTest::newRow("bad type letter") << "?rw-r--r-- 1 root root 12 Mar 12 13:06 x";
    QTest::newRow("size not a number") << "-rw-r--r-- 1 root root 1x2 Mar 12 13:06 x";
    QTest::newRow("negative size") << "-rw-r--r-- 1 root root -5 Mar 12 13:06 x";
    QTest::newRow("no date") << "-rw-r--r-- 1 root root 12 x y";
    QTest::newRow("bad day") << "-rw-r--r-- 1 root root 12 Mar 32 13:06 x";
    QTest::newRow("dos bad date") << "13-45-26  01:06PM  12 x";
    QTest::newRow("garbage") << QString::fromLatin1("\x01\x02\xff garbage -> x");
}

void TestParsers::rejectsOtherLines()
{
    QFETCH(QString, line);
    QVERIFY(!parseListLine(line, today).isValid());
}

using Replies = QList<QPair<int, QString>>;

namespace {

Replies drain(FtpReplyParser &parser)
{
    Replies out;
    while (parser.hasReply()) {
        const FtpReply reply = parser.takeReply();
        out.append({ reply.code, reply.text });
    }
    return out;
}

} // namespace

void TestParsers::splitsReplies_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<Replies>("expected");

    QTest::newRow("one line") << QByteArray("220 Ready\r\n") << Replies{ { 220, "Ready" } };
    QTest::newRow("incomplete line waits") << QByteArray("226 Do") << Replies{};
    QTest::newRow("multi-line")
            << QByteArray("230-Welcome\r\n to the R9\r\n230-still here\r\n230 Logged in\r\n")
            << Replies{ { 230, "Welcome\n to the R9\n230-still here\nLogged in" } };
    QTest::newRow("multi-line with other codes inside")
            << QByteArray("211-Features:\r\n EPSV\r\n226 not the end\r\n211 End\r\n")
            << Replies{ { 211, "Features:\n EPSV\n226 not the end\nEnd" } };
    QTest::newRow("multi-line ending in the bare code")
            << QByteArray("220-a\r\n220\r\n") << Replies{ { 220, "a\n" } };
    QTest::newRow("text keeps blanks")
            << QByteArray("257 \" ..\" created \r\n") << Replies{ { 257, "\" ..\" created " } };
    QTest::newRow("text read one character per byte")
            << QByteArray("550 \xC4RGER.TXT: no such file\r\n") << Replies{ { 550, QString::fromLatin1("\xC4RGER.TXT: no such file") } };
    QTest::newRow("NUL and CR inside the text")
            << QByteArray("500 a\0b\rc\r\n", 12) << Replies{ { 500, QString::fromLatin1("a\0b\rc", 5) } };
    const QByteArray longest(FtpReplyParser::maxLineLength - 4, 'z');
    QTest::newRow("longest allowed line") << "550 " + longest + "\r\n" << Replies{ { 550, QString::fromLatin1(longest) } };
}

void TestParsers::splitsReplies()
{
    QFETCH(QByteArray, input);
    QFETCH(Replies, expected);
    FtpReplyParser parser;
    parser.addData(input);
    QVERIFY2(!parser.hasError(), qPrintable(parser.errorString()));
    QCOMPARE(drain(parser), expected);
}

void TestParsers::sameRepliesWhateverTheChunks()
{
    const QByteArray input("220-Hello\r\nthere\r\n220 Ready\r\n331 Password?\r\n230 OK\r\n227 (127,0,0,1,4,1)\r\n");
    FtpReplyParser whole;
    whole.addData(input);
    const Replies expected = drain(whole);
    QCOMPARE(expected.size(), 4);
    for (int split = 1; split < input.size(); ++split) {
        FtpReplyParser parser;
        parser.addData(input.left(split));
        Replies got = drain(parser);
        parser.addData(input.mid(split));
        got += drain(parser);
        QCOMPARE(got, expected);
    }
}

void TestParsers::rejectsBadInput_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::newRow("garbage") << QByteArray("hello world\r\n");
    QTest::newRow("code class 6") << QByteArray("600 nope\r\n");
    QTest::newRow("two digits") << QByteArray("22 Ready\r\n");
    QTest::newRow("no separator") << QByteArray("220Ready\r\n");
    QTest::newRow("empty line") << QByteArray("\r\n");
    QTest::newRow("binary") << QByteArray("\xff\xfe\x00\x01\n", 5);
    QTest::newRow("line too long, no end")
            << QByteArray("220 ") + QByteArray(FtpReplyParser::maxLineLength + 10, 'x');
    QTest::newRow("line too long")
            << QByteArray("220 ") + QByteArray(FtpReplyParser::maxLineLength, 'x') + "\r\n";
    QByteArray huge("220-start\r\n");
    while (huge.size() <= FtpReplyParser::maxReplySize)
        huge += QByteArray(1000, 'y') + "\r\n";
    QTest::newRow("multi-line reply too large") << huge;
}

void TestParsers::rejectsBadInput()
{
    QFETCH(QByteArray, input);
    FtpReplyParser parser;
    parser.addData(input);
    QVERIFY(parser.hasError());
    QVERIFY(!parser.errorString().isEmpty());
    QVERIFY(!parser.hasReply());
}

void TestParsers::passiveReply_data()
{
    QTest::addColumn<bool>("extended"); // an EPSV reply, else PASV
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("port"); // -1: not accepted

    QTest::newRow("PASV, usual") << false << "Entering Passive Mode (127,0,0,1,195,80)." << 195 * 256 + 80;
    QTest::newRow("PASV, blanks around commas") << false << "=10, 1 ,2,3 , 0 ,21" << 21;
    QTest::newRow("PASV, numbers before the address") << false << "PASV 2 ok (192,168,1,2,7,208)" << 7 * 256 + 208;
    QTest::newRow("PASV, part over 255") << false << "(127,0,0,1,256,1)" << -1;
    QTest::newRow("PASV, port zero") << false << "(127,0,0,1,0,0)" << -1;
    QTest::newRow("PASV, text only") << false << "Entering Passive Mode" << -1;

    QTest::newRow("EPSV, usual") << true << "Entering Extended Passive Mode (|||6446|)" << 6446;
    QTest::newRow("EPSV, other delimiter") << true << "ok (!!!65535!)" << 65535;
    QTest::newRow("EPSV, a second parenthesis") << true << "note (x) then (|||21|)" << 21;
    QTest::newRow("EPSV, port too large") << true << "(|||65536|)" << -1;
    QTest::newRow("EPSV, port zero") << true << "(|||0|)" << -1;
    QTest::newRow("EPSV, mixed delimiters") << true << "(||!6446|)" << -1;
}

void TestParsers::passiveReply()
{
    QFETCH(bool, extended);
    QFETCH(QString, text);
    QFETCH(int, port);
    quint16 parsed = 0;
    const bool accepted = extended ? parseExtendedPassiveReply(text, &parsed) : parsePassiveReply(text, &parsed);
    QCOMPARE(accepted, port >= 0);
    if (port >= 0)
        QCOMPARE(int(parsed), port);
}

QTEST_APPLESS_MAIN(TestParsers)
#include "tst_parsers.moc"
