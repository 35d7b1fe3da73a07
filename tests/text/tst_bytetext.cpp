#include "common/apperror.h"
#include "gbkliteral.h"
#include "text/bytetext.h"
#include "text/gbk.h"

#include <QTest>

using testsupport::gbk;

using namespace text;

class TestByteText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void position_data()
    {
        QTest::addColumn<QByteArray>("needle");
        QTest::addColumn<QByteArray>("haystack");
        QTest::addColumn<qsizetype>("expected");
        QTest::newRow("first byte") << QByteArray("ab") << QByteArray("abcab") << qsizetype(1);
        QTest::newRow("first of two") << QByteArray("b") << QByteArray("abcab") << qsizetype(2);
        QTest::newRow("absent") << QByteArray("x") << QByteArray("abc") << qsizetype(0);
        QTest::newRow("empty needle") << QByteArray() << QByteArray("abc") << qsizetype(0);
        QTest::newRow("empty haystack") << QByteArray("a") << QByteArray() << qsizetype(0);
        QTest::newRow("case sensitive") << QByteArray("Search") << QByteArray("search") << qsizetype(0);
        // Plain byte comparison: a match may start inside a double-byte character.
        QTest::newRow("across characters")
            << QByteArray("\xb0\xa1") << QByteArray("\xa1\xb0\xa1") << qsizetype(2);
    }
    void position()
    {
        QFETCH(QByteArray, needle);
        QFETCH(QByteArray, haystack);
        QFETCH(qsizetype, expected);
        QCOMPARE(text::position(needle, haystack), expected);
    }

    void slices_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<qsizetype>("n");
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<QByteArray>("first");
        QTest::newRow("middle") << QByteArray("abcdef") << qsizetype(3) << QByteArray("cdef")
                                << QByteArray("abc");
        QTest::newRow("zero") << QByteArray("abc") << qsizetype(0) << QByteArray("abc") << QByteArray();
        QTest::newRow("negative") << QByteArray("abc") << qsizetype(-4) << QByteArray("abc") << QByteArray();
        QTest::newRow("last byte") << QByteArray("abc") << qsizetype(3) << QByteArray("c")
                                   << QByteArray("abc");
        QTest::newRow("past end") << QByteArray("abc") << qsizetype(4) << QByteArray() << QByteArray("abc");
        QTest::newRow("far past end")
            << QByteArray("abc") << qsizetype(99) << QByteArray() << QByteArray("abc");
        QTest::newRow("empty") << QByteArray() << qsizetype(1) << QByteArray() << QByteArray();
    }
    void slices()
    {
        QFETCH(QByteArray, text);
        QFETCH(qsizetype, n);
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, first);
        QCOMPARE(fromByte(text, n).toByteArray(), from);
        QCOMPARE(firstBytes(text, n).toByteArray(), first);
    }

    void deleteEvery_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("x");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("six spaces keep two")
            << QByteArray("a      b") << QByteArray("    ") << QByteArray("a  b");
        QTest::newRow("eight spaces") << QByteArray("a        b") << QByteArray("    ") << QByteArray("ab");
        QTest::newRow("three spaces stay")
            << QByteArray("a   b") << QByteArray("    ") << QByteArray("a   b");
        QTest::newRow("crlf pairs") << QByteArray("\r\nab\r\n") << QByteArray("\r\n") << QByteArray("ab");
        QTest::newRow("lone cr and lf stay")
            << QByteArray("\ra\nb\n\r") << QByteArray("\r\n") << QByteArray("\ra\nb\n\r");
        // Removing "ab" from "aabb" leaves "ab": the joined text is not rescanned.
        QTest::newRow("no rescan") << QByteArray("aabb") << QByteArray("ab") << QByteArray("ab");
        QTest::newRow("nothing to delete") << QByteArray("abc") << QByteArray("x") << QByteArray("abc");
    }
    void deleteEvery()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, x);
        QFETCH(QByteArray, expected);
        QCOMPARE(text::deleteEvery(text, x), expected);
    }

    void split_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("delimiter");
        QTest::addColumn<QList<QByteArray>>("expected");
        QTest::newRow("empty text, no parts") << QByteArray() << QByteArray("<dd>") << QList<QByteArray>{};
        QTest::newRow("no delimiter") << QByteArray("abc") << QByteArray("<dd>") << QList<QByteArray>{"abc"};
        QTest::newRow("k gives k+1") << QByteArray("a<dd>b<dd>c") << QByteArray("<dd>")
                                     << QList<QByteArray>{"a", "b", "c"};
        QTest::newRow("empty parts kept")
            << QByteArray("<dd><dd>") << QByteArray("<dd>") << QList<QByteArray>{"", "", ""};
        QTest::newRow("no overlap") << QByteArray("aaaa") << QByteArray("aa")
                                    << QList<QByteArray>{"", "", ""};
    }
    void split()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, delimiter);
        QFETCH(QList<QByteArray>, expected);
        QCOMPARE(text::split(text, delimiter), expected);
    }

    void splitLines_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QList<QByteArray>>("expected");
        QTest::newRow("crlf") << QByteArray("a\r\nb\r\n1\r\n") << QList<QByteArray>{"a", "b", "1"};
        QTest::newRow("lf only") << QByteArray("a\nb\n1\n") << QList<QByteArray>{"a", "b", "1"};
        QTest::newRow("cr only") << QByteArray("a\rb\r1") << QList<QByteArray>{"a", "b", "1"};
        QTest::newRow("no final end") << QByteArray("a\r\nb\r\n1") << QList<QByteArray>{"a", "b", "1"};
        QTest::newRow("empty line between") << QByteArray("a\r\n\r\nb") << QList<QByteArray>{"a", "", "b"};
        QTest::newRow("lf cr is two ends") << QByteArray("a\n\rb") << QList<QByteArray>{"a", "", "b"};
        QTest::newRow("zero byte ends text")
            << QByteArray("a\r\nb\0c\r\nd", 9) << QList<QByteArray>{"a", "b"};
        QTest::newRow("empty") << QByteArray() << QList<QByteArray>{};
    }
    void splitLines()
    {
        QFETCH(QByteArray, text);
        QFETCH(QList<QByteArray>, expected);
        QCOMPARE(text::splitLines(text), expected);
    }

    void foldCase_data()
    {
        QTest::addColumn<QByteArray>("a");
        QTest::addColumn<QByteArray>("b");
        QTest::addColumn<bool>("equal");
        QTest::newRow("ascii") << QByteArray("iPhone Case") << QByteArray("IPHONE case") << true;
        QTest::newRow("different length") << QByteArray("ab") << QByteArray("abc") << false;
        QTest::newRow("chinese with latin") << gbk("手机壳ABC") << gbk("手机壳abc") << true;
        // Two different characters whose trail bytes differ only in ASCII case:
        // 0x81 0x41 and 0x81 0x61 must stay different.
        QTest::newRow("trail bytes look like letters")
            << QByteArray("\x81\x41") << QByteArray("\x81\x61") << false;
        QTest::newRow("letter after double-byte")
            << QByteArray("\x81\x41Z") << QByteArray("\x81\x41z") << true;
    }
    void foldCase()
    {
        QFETCH(QByteArray, a);
        QFETCH(QByteArray, b);
        QFETCH(bool, equal);
        QCOMPARE(equalsIgnoringCase(a, b), equal);
    }

    void gbkRoundTrip()
    {
        const QString chinese = QString::fromUtf8("你是不是想找：连衣裙");
        const QByteArray bytes = toGbk(chinese);
        QCOMPARE(bytes.left(2), QByteArray("\xc4\xe3"));
        QCOMPARE(fromGbk(bytes), chinese);
        // Characters GBK lacks become "?".
        QCOMPARE(toGbk(QString::fromUtf8("a\xF0\x9F\x98\x80z")), QByteArray("a?z"));
    }

    void errorBoxText_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter gets dot")
            << QStringLiteral("Stream write error") << QStringLiteral("Stream write error.");
        QTest::newRow("bracket keeps") << QStringLiteral("List index out of bounds (2)")
                                       << QStringLiteral("List index out of bounds (2)");
        QTest::newRow("dot keeps") << QStringLiteral("Done.") << QStringLiteral("Done.");
        QTest::newRow("comma sorts below dot") << QStringLiteral("a,") << QStringLiteral("a,");
        QTest::newRow("slash sorts above") << QStringLiteral("a/") << QStringLiteral("a/.");
        QTest::newRow("chinese gets dot") << QString::fromUtf8("错误") << QString::fromUtf8("错误.");
        QTest::newRow("empty") << QString() << QString();
    }
    void errorBoxText()
    {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        QCOMPARE(::errorBoxText(message), shown);
    }
};

QTEST_GUILESS_MAIN(TestByteText)
#include "tst_bytetext.moc"
