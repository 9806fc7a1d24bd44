#include "home/DragView.h"
#include "tests/support/TestMain.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

// Drags are sent to the widget under the pointer, as the window system hands
// them over; Qt passes them on to the first parent that accepts drops.
class DragViewTest final : public QObject {
    Q_OBJECT

    std::unique_ptr<QWidget> m_window;
    DragView* m_view = nullptr;
    QList<QList<QUrl>> m_drops;

private slots:
    void init()
    {
        m_drops.clear();
        m_window = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(m_window.get());
        m_view = new DragView;
        layout->addWidget(m_view);
        layout->addWidget(new QPushButton(u"outside"_s));
        m_view->setDragComplete([this](const QList<QUrl>& urls) { m_drops.append(urls); });
        auto* inner = new QVBoxLayout(m_view);
        inner->addWidget(new QPushButton(u"button"_s));
        inner->addWidget(new QLabel(u"label"_s));
        inner->addWidget(new QLineEdit); // a taker of text drops by nature
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }
    void cleanup() { m_window.reset(); }

    void dropsReachTheTargetWhole_data()
    {
        QTest::addColumn<QString>("target"); // class of the inner widget; empty: the view
        QTest::addColumn<int>("files");
        QTest::addColumn<bool>("webAddress");
        QTest::addColumn<int>("actions");
        QTest::addColumn<bool>("taken");
        const int any = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
        QTest::newRow("five files") << QString() << 5 << false << any << true;
        QTest::newRow("on the button") << u"QPushButton"_s << 1 << false << any << true;
        QTest::newRow("on a line edit") << u"QLineEdit"_s << 3 << false << any << true;
        // A move could let the source delete the files once dropped.
        QTest::newRow("move only") << QString() << 1 << false << int(Qt::MoveAction) << false;
        QTest::newRow("with a web address") << QString() << 1 << true << any << false;
        QTest::newRow("no addresses") << QString() << 0 << false << any << false;
    }
    void dropsReachTheTargetWhole()
    {
        QFETCH(QString, target);
        QFETCH(int, files);
        QFETCH(bool, webAddress);
        QFETCH(int, actions);
        QFETCH(bool, taken);
        QList<QUrl> urls;
        for (int i = files; i > 0; --i)
            urls.append(QUrl::fromLocalFile(u"/tmp/in/%1.txt"_s.arg(i)));
        if (webAddress)
            urls.append(QUrl(u"https://example.org/a.zip"_s));
        QStringList lines; // file managers offer the addresses as text too
        for (const QUrl& url : urls)
            lines.append(url.toString());
        QMimeData data;
        data.setUrls(urls);
        data.setText(lines.join(u'\n'));

        QWidget* widget = m_view;
        for (QWidget* child : m_view->findChildren<QWidget*>()) {
            if (!target.isEmpty() && child->inherits(target.toLatin1().constData()))
                widget = child;
        }
        const Qt::DropActions possible = Qt::DropActions::fromInt(actions);
        QDragEnterEvent enter(widget->rect().center(), possible, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(widget, &enter);
        QCOMPARE(m_view->dragEntered(), taken);
        QDropEvent drop(widget->rect().center(), possible, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(widget, &drop);
        QCOMPARE(drop.isAccepted() && drop.dropAction() != Qt::MoveAction, taken);
        QCOMPARE(m_drops, taken ? QList<QList<QUrl>> { urls } : QList<QList<QUrl>>());
        QVERIFY(!m_view->dragEntered()); // out once the drag is over
    }
};

ZAVRIN_TEST(DragViewTest)
#include "tst_dragview.moc"
