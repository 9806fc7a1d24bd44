#include "tests/support/TestMain.h"
#include "ui/ListHelpers.h"
#include "ui/Styling.h"

#include <QPushButton>
#include <QTest>
#include <QWidget>

class StylingTest final : public QObject {
    Q_OBJECT

private slots:
    void hexStrReadsSixAndEightDigits()
    {
        const auto blue = hexStr(QStringLiteral("067DFF"));
        QVERIFY(blue.has_value());
        QCOMPARE(blue->red(), 6);
        QCOMPARE(blue->green(), 125);
        QCOMPARE(blue->blue(), 255);
        QCOMPARE(blue->alpha(), 255);

        const auto red = hexStr(QStringLiteral("80FF0000")); // alpha first
        QVERIFY(red.has_value());
        QCOMPARE(red->alpha(), 128);
        QCOMPARE(red->red(), 255);
        QCOMPARE(red->green(), 0);

        QCOMPARE(hexStr(QStringLiteral("f7f7f7")), hexStr(QStringLiteral("F7F7F7")));
        QVERIFY(!hexStr(QStringLiteral("#067DFF")).has_value());
        QVERIFY(!hexStr(QStringLiteral("FFF")).has_value());
        QVERIFY(!hexStr(QString()).has_value());
        QCOMPARE(Palette::primary(), QColor(0xFF, 0xA1, 0x07));
    }

    void listHelpers()
    {
        using namespace ListHelpers;
        const QList<int> five = { 1, 2, 3, 4, 5 };
        QCOMPARE(prefix(five, 0), QList<int>());
        QCOMPARE(prefix(five, -3), QList<int>());
        QCOMPARE(prefix(five, 9), five);
        QCOMPARE(prefix(five, 2), (QList<int> { 1, 2 }));
        QCOMPARE(suffix(five, 2), (QList<int> { 4, 5 }));
        QCOMPARE(suffix(five, 0), QList<int>());
        QCOMPARE(suffix(five, 6), five);
        QCOMPARE(distinctArr(QList<QString> { QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("a"),
                     QStringLiteral("c"), QStringLiteral("b") }),
            (QList<QString> { QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c") }));
        QCOMPARE(map(five, [](int x) { return QString::number(x * 2); }).last(), QStringLiteral("10"));
        QCOMPARE(filter(five, [](int x) { return x % 2 == 1; }), (QList<int> { 1, 3, 5 }));
        QCOMPARE(sortBy(QList<int> { 3, 1, 2 }, std::less<int>()), (QList<int> { 1, 2, 3 }));
    }

    void sortByKeepsEqualKeysInInputOrder()
    {
        using Pair = std::pair<int, char>;
        const QList<Pair> input = { { 2, 'a' }, { 1, 'b' }, { 2, 'c' }, { 1, 'd' }, { 0, 'e' }, { 2, 'f' } };
        const QList<Pair> sorted
            = ListHelpers::sortBy(input, [](const Pair& x, const Pair& y) { return x.first < y.first; });
        const QList<Pair> expected = { { 0, 'e' }, { 1, 'b' }, { 1, 'd' }, { 2, 'a' }, { 2, 'c' }, { 2, 'f' } };
        QCOMPARE(sorted, expected);
    }

    void edgesKeepTheirMeaningInQtCoordinates()
    {
        QWidget parent;
        auto* view = new QWidget(&parent);
        view->setGeometry(10, 20, 100, 50);
        QCOMPARE(top(view), 20); // the upper edge
        QCOMPARE(bottom(view), 70);
        QCOMPARE(right(view), 110);
        setBottom(view, 200);
        QCOMPARE(view->geometry(), QRect(10, 150, 100, 50));
        setRight(view, 300);
        QCOMPARE(view->geometry(), QRect(200, 150, 100, 50));
        setTop(view, 0);
        setLeft(view, 0);
        QCOMPARE(view->geometry(), QRect(0, 0, 100, 50));
        QCOMPARE(viewID(view), 0);
        setViewID(view, 42);
        QCOMPARE(viewID(view), 42);
    }

    void layerStyle()
    {
        QWidget view;
        QCOMPARE(backgroundColor(&view), QColor(Qt::transparent));
        setBackgroundColor(&view, hexStr(QStringLiteral("F0F1F5")));
        setCornerRadius(&view, 10.0);
        setBorderWidth(&view, 1.0);
        setBorderColor(&view, hexStr(QStringLiteral("DDDDDD")));
        QCOMPARE(backgroundColor(&view), QColor(0xF0, 0xF1, 0xF5));
        QCOMPARE(cornerRadius(&view), 10.0);
        QCOMPARE(borderColor(&view), QColor(0xDD, 0xDD, 0xDD));
        QVERIFY(view.styleSheet().contains(QStringLiteral("border-radius:10px")));
        setBackgroundColor(&view, std::nullopt);
        QCOMPARE(backgroundColor(&view), QColor(Qt::transparent));

        QPushButton button;
        setTitleColor(&button, Qt::white);
        QCOMPARE(button.palette().color(QPalette::ButtonText), QColor(Qt::white));
    }
};

ZAVRIN_TEST(StylingTest)
#include "tst_styling.moc"
