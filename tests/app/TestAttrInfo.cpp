// The attribute descriptions: lookups, defaults, encodings, and the delivered file.

#include "AttrInfo.h"

#include "foundation/TextFile.h"

#include "TestSupport.h"

#include <QTest>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

class TestAttrInfo : public QObject
{
    Q_OBJECT

private:
    QString write(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_box.path(name);
        if (!WriteFileAtomically(path, bytes))
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    test::ScopedSandbox m_box;

private slots:
    void lookupsAndDefaults()
    {
        const QString path = write(u"a.en"_s,
                                   "; comment\r\n[5]\r\nName=Reallocated\r\nDescription=Spares used.\r\nWarning=1\r\n"
                                   "[7]\r\nWarning=1\r\n[8]\r\nname=lower\r\nWarning=0x10\r\n[9]\r\nName=\r\nWarning=yes\r\n"
                                   "[010]\r\nName=Leading zero\r\n[11]\r\nWarning=$0\r\n");
        const TSMARTAttrDecription d(path);
        QCOMPARE(d.AttributeName(5), u"Reallocated"_s);
        QCOMPARE(d.AttributeDescription(u"5"_s), u"Spares used."_s);
        QVERIFY(d.AttributeWarning(u"5"_s));
        // No section: the defaults.
        QCOMPARE(d.AttributeName(200), u"Unkown"_s);
        QCOMPARE(d.AttributeDescription(u"200"_s), QString());
        QVERIFY(!d.AttributeWarning(u"200"_s));
        // A section with a warning only.
        QCOMPARE(d.AttributeName(7), u"Unkown"_s);
        QCOMPARE(d.AttributeDescription(u"7"_s), QString());
        QVERIFY(d.AttributeWarning(u"7"_s));
        // Keys match without regard to case; hexadecimal warnings count.
        QCOMPARE(d.AttributeName(8), u"lower"_s);
        QVERIFY(d.AttributeWarning(u"8"_s));
        // An empty value is a value; a word is no number.
        QCOMPARE(d.AttributeName(9), QString());
        QVERIFY(!d.AttributeWarning(u"9"_s));
        // Sections are matched as text.
        QCOMPARE(d.AttributeName(10), u"Unkown"_s);
        QVERIFY(!d.AttributeWarning(u"11"_s));
    }

    void encodingsReadAlike()
    {
        const QString text = u"[194]\r\nName=Temperature\r\nDescription=Drive temperature.\r\nWarning=0\r\n"_s;
        QByteArray utf16le("\xFF\xFE");
        utf16le += QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
        QByteArray utf16be("\xFE\xFF");
        for (const QChar c : text) {
            utf16be += char(c.unicode() >> 8);
            utf16be += char(c.unicode() & 0xff);
        }
        const QByteArray utf8 = "\xEF\xBB\xBF" + text.toUtf8();
        const QByteArray ascii = text.toLatin1();
        for (const QByteArray &bytes : {utf16le, utf16be, utf8, ascii}) {
            const TSMARTAttrDecription d(write(u"e.en"_s, bytes));
            QCOMPARE(d.AttributeName(194), u"Temperature"_s);
            QCOMPARE(d.AttributeDescription(u"194"_s), u"Drive temperature."_s);
            QVERIFY(!d.AttributeWarning(u"194"_s));
        }
    }

    void missingFileIsEmpty()
    {
        const TSMARTAttrDecription d(m_box.path(u"none.en"_s));
        QCOMPARE(d.AttributeName(5), u"Unkown"_s);
        QVERIFY(!d.AttributeWarning(u"5"_s));
    }

    void integersOfTheSettingsFiles_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("value");
        QTest::addColumn<bool>("valid");
        QTest::newRow("decimal") << u"12"_s << qint64(12) << true;
        QTest::newRow("negative") << u"-3"_s << qint64(-3) << true;
        QTest::newRow("0x") << u"0x1F"_s << qint64(31) << true;
        QTest::newRow("0X") << u"0X10"_s << qint64(16) << true;
        QTest::newRow("dollar") << u"$ff"_s << qint64(255) << true;
        QTest::newRow("word") << u"true"_s << qint64(0) << false;
        QTest::newRow("empty") << QString() << qint64(0) << false;
        QTest::newRow("bare prefix") << u"0x"_s << qint64(0) << false;
        QTest::newRow("double sign") << u"--1"_s << qint64(0) << false;
    }
    void integersOfTheSettingsFiles()
    {
        QFETCH(QString, text);
        QFETCH(qint64, value);
        QFETCH(bool, valid);
        const auto parsed = ParseIniInteger(text);
        QCOMPARE(parsed.has_value(), valid);
        if (valid)
            QCOMPARE(*parsed, value);
    }

    // The delivered file: every attribute in common use is named and described,
    // and the ones whose growth predicts failure carry the warning.
    void deliveredFile()
    {
        const TSMARTAttrDecription d(QString::fromUtf8(VALMORA_SOURCE_DIR) + u"/data/attribute.en"_s);
        QList<int> expected{1, 2, 3, 4, 5, 22, 206};
        for (int a = 7; a <= 13; ++a)
            expected << a;
        for (const auto &[from, to] : {std::pair{170, 184}, {187, 202}, {220, 235}, {240, 242}, {250, 254}})
            for (int a = from; a <= to; ++a)
                expected << a;
        for (int a : expected) {
            QVERIFY2(d.AttributeName(a) != u"Unkown"_s && !d.AttributeName(a).isEmpty(), qPrintable(QString::number(a)));
            QVERIFY2(!d.AttributeDescription(QString::number(a)).isEmpty(), qPrintable(QString::number(a)));
        }
        for (int a : {5, 10, 184, 187, 188, 196, 197, 198})
            QVERIFY2(d.AttributeWarning(QString::number(a)), qPrintable(QString::number(a)));
        for (int a : {1, 9, 12, 194, 199})
            QVERIFY2(!d.AttributeWarning(QString::number(a)), qPrintable(QString::number(a)));
    }
};

QTEST_GUILESS_MAIN(TestAttrInfo)
#include "TestAttrInfo.moc"
