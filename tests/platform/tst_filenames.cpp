#include "platform/FileNames.h"
#include "tests/support/TestMain.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Text from UTF-16 code units, lone surrogates allowed (string literals
// refuse them).
QString units(std::initializer_list<char16_t> codes)
{
    return QString(reinterpret_cast<const QChar*>(codes.begin()), static_cast<qsizetype>(codes.size()));
}

} // namespace

class FileNamesTest final : public QObject {
    Q_OBJECT

private slots:
    // Any bytes come back unchanged; valid UTF-8 reads as itself, every
    // other byte as U+DC00 + byte.
    void namesKeepTheirBytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("ASCII") << QByteArray("plain.txt") << u"plain.txt"_s;
        QTest::newRow("UTF-8") << QByteArray("中文名.txt") << u"中文名.txt"_s;
        QTest::newRow("past U+FFFF") << QByteArray("\xf0\x90\x82\x80") << QString::fromUcs4(U"\U00010080", 1);
        QTest::newRow("Latin-1") << QByteArray("caf\xe9") << units({ u'c', u'a', u'f', 0xDCE9 });
        QTest::newRow("GBK") << QByteArray("\xd6\xd0\xce\xc4") << units({ 0xDCD6, 0xDCD0, 0xDCCE, 0xDCC4 });
        QTest::newRow("overlong /") << QByteArray("\xc0\xaf") << units({ 0xDCC0, 0xDCAF });
        QTest::newRow("encoded surrogate") << QByteArray("\xed\xa0\x80") << units({ 0xDCED, 0xDCA0, 0xDC80 });
        QTest::newRow("past U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << units({ 0xDCF4, 0xDC90, 0xDC80, 0xDC80 });
        QTest::newRow("cut short") << QByteArray("a\xe4\xb8") << units({ u'a', 0xDCE4, 0xDCB8 });
        QTest::newRow("lone continuation, then UTF-8") << QByteArray("\x80\xc3\xa9") << units({ 0xDC80, u'é' });
    }
    void namesKeepTheirBytes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(FileNames::decode(bytes), text);
        QCOMPARE(FileNames::encode(text), bytes);
    }

    // Text that decode() never makes: a lone surrogate outside the escapes
    // is written as Qt writes it, a paired one as its character.
    void otherTextIsUtf8()
    {
        QCOMPARE(FileNames::encode(units({ u'a', 0xD800, u'b' })), QByteArray("a?b"));
        QCOMPARE(FileNames::encode(QString::fromUcs4(U"\U0001F600", 1)), QByteArray("\xf0\x9f\x98\x80"));
    }
};

ZAVRIN_TEST(FileNamesTest)
#include "tst_filenames.moc"
