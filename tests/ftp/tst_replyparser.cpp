#include "passivereply.h"
#include "replyparser.h"

#include <QTest>

class TestReplyParser : public QObject
{
    Q_OBJECT

private slots:
    void splitsReplies_data();
    void splitsReplies();
    void sameRepliesWhateverTheChunks();
    void rejectsBadInput_data();
    void rejectsBadInput();
    void ignoresInputAfterAnError();
    void passiveReply_data();
    void passiveReply();
    void extendedPassiveReply_data();
    void extendedPassiveReply();
};

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

void TestReplyParser::splitsReplies_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<Replies>("expected");

    QTest::newRow("one line") << QByteArray("220 Ready\r\n") << Replies{ { 220, "Ready" } };
    QTest::newRow("code only") << QByteArray("200\r\n") << Replies{ { 200, "" } };
    QTest::newRow("bare LF") << QByteArray("250 OK\n") << Replies{ { 250, "OK" } };
    QTest::newRow("two in one chunk") << QByteArray("150 Opening\r\n226 Done\r\n")
                                      << Replies{ { 150, "Opening" }, { 226, "Done" } };
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
    QTest::newRow("NUL and CR inside the text")
            << QByteArray("500 a\0b\rc\r\n", 12) << Replies{ { 500, QString::fromLatin1("a\0b\rc", 5) } };
    const QByteArray longest(FtpReplyParser::maxLineLength - 4, 'z');
    QTest::newRow("longest allowed line") << "550 " + longest + "\r\n" << Replies{ { 550, QString::fromLatin1(longest) } };
}

void TestReplyParser::splitsReplies()
{
    QFETCH(QByteArray, input);
    QFETCH(Replies, expected);
    FtpReplyParser parser;
    parser.addData(input);
    QVERIFY2(!parser.hasError(), qPrintable(parser.errorString()));
    QCOMPARE(drain(parser), expected);
}

void TestReplyParser::sameRepliesWhateverTheChunks()
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
    FtpReplyParser bytewise;
    Replies got;
    for (char c : input) {
        bytewise.addData(&c, 1);
        got += drain(bytewise);
    }
    QCOMPARE(got, expected);
}

void TestReplyParser::rejectsBadInput_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::newRow("garbage") << QByteArray("hello world\r\n");
    QTest::newRow("HTML") << QByteArray("<html><body>\r\n");
    QTest::newRow("code class 6") << QByteArray("600 nope\r\n");
    QTest::newRow("code class 0") << QByteArray("099 nope\r\n");
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

void TestReplyParser::rejectsBadInput()
{
    QFETCH(QByteArray, input);
    FtpReplyParser parser;
    parser.addData(input);
    QVERIFY(parser.hasError());
    QVERIFY(!parser.errorString().isEmpty());
    QVERIFY(!parser.hasReply());
}

void TestReplyParser::ignoresInputAfterAnError()
{
    FtpReplyParser parser;
    parser.addData(QByteArray("200 fine\r\nbad\r\n226 late\r\n"));
    QVERIFY(parser.hasError());
    QCOMPARE(drain(parser), (Replies{ { 200, "fine" } }));
    parser.addData(QByteArray("250 more\r\n"));
    QVERIFY(!parser.hasReply());
    parser.clear();
    QVERIFY(!parser.hasError());
    parser.addData(QByteArray("250 more\r\n"));
    QCOMPARE(drain(parser), (Replies{ { 250, "more" } }));
}

void TestReplyParser::passiveReply_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("port"); // -1: not accepted

    QTest::newRow("usual") << "Entering Passive Mode (127,0,0,1,195,80)." << 195 * 256 + 80;
    QTest::newRow("no parentheses") << "Entering Passive Mode 10,1,2,3,4,5" << 4 * 256 + 5;
    QTest::newRow("blanks around commas") << "=10, 1 ,2,3 , 0 ,21" << 21;
    QTest::newRow("numbers before the address") << "PASV 2 ok (192,168,1,2,7,208)" << 7 * 256 + 208;
    QTest::newRow("part over 255") << "(127,0,0,1,256,1)" << -1;
    QTest::newRow("address over 255") << "(300,0,0,1,1,1)" << -1;
    QTest::newRow("five numbers") << "(127,0,0,1,20)" << -1;
    QTest::newRow("four-digit number") << "(1270,0,0,1,1,1)" << -1;
    QTest::newRow("port zero") << "(127,0,0,1,0,0)" << -1;
    QTest::newRow("empty") << "" << -1;
    QTest::newRow("text only") << "Entering Passive Mode" << -1;
}

void TestReplyParser::passiveReply()
{
    QFETCH(QString, text);
    QFETCH(int, port);
    quint16 parsed = 0;
    QCOMPARE(parsePassiveReply(text, &parsed), port >= 0);
    if (port >= 0)
        QCOMPARE(int(parsed), port);
}

void TestReplyParser::extendedPassiveReply_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("port");

    QTest::newRow("usual") << "Entering Extended Passive Mode (|||6446|)" << 6446;
    QTest::newRow("other delimiter") << "ok (!!!65535!)" << 65535;
    QTest::newRow("a second parenthesis") << "note (x) then (|||21|)" << 21;
    QTest::newRow("port too large") << "(|||65536|)" << -1;
    QTest::newRow("port zero") << "(|||0|)" << -1;
    QTest::newRow("mixed delimiters") << "(||!6446|)" << -1;
    QTest::newRow("unclosed") << "(|||6446|" << -1;
    QTest::newRow("no port") << "(||||)" << -1;
    QTest::newRow("empty") << "" << -1;
}

void TestReplyParser::extendedPassiveReply()
{
    QFETCH(QString, text);
    QFETCH(int, port);
    quint16 parsed = 0;
    QCOMPARE(parseExtendedPassiveReply(text, &parsed), port >= 0);
    if (port >= 0)
        QCOMPARE(int(parsed), port);
}

QTEST_APPLESS_MAIN(TestReplyParser)
#include "tst_replyparser.moc"
