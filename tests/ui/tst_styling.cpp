#include "tests/support/TestMain.h"
#include "ui/Styling.h"

#include <QTest>

class StylingTest final : public QObject {
    Q_OBJECT

private slots:
    void hexStrReadsSixAndEightDigits_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QColor>("colour"); // invalid: no colour
        QTest::newRow("six digits") << QStringLiteral("067DFF") << QColor(6, 125, 255, 255);
        QTest::newRow("alpha first") << QStringLiteral("80FF0000") << QColor(255, 0, 0, 128);
        QTest::newRow("lower case") << QStringLiteral("f7f7f7") << QColor(0xF7, 0xF7, 0xF7);
        QTest::newRow("leading hash") << QStringLiteral("#067DFF") << QColor();
        QTest::newRow("three digits") << QStringLiteral("FFF") << QColor();
        QTest::newRow("empty") << QString() << QColor();
    }

    void hexStrReadsSixAndEightDigits()
    {
        QFETCH(QString, text);
        QFETCH(QColor, colour);
        const std::optional<QColor> read = Styling::hexStr(text);
        QCOMPARE(read.has_value(), colour.isValid());
        if (read)
            QCOMPARE(read->rgba(), colour.rgba());
    }
};

ZAVRIN_TEST(StylingTest)
#include "tst_styling.moc"
