#include "home/DragView.h"
#include "tests/support/TestMain.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

namespace {

QList<QUrl> files(int count)
{
    QList<QUrl> urls;
    for (int i = 0; i < count; ++i)
        urls.append(QUrl::fromLocalFile(QStringLiteral("/tmp/in/%1-%2.txt").arg(count - i).arg(i)));
    return urls;
}

} // namespace

// Drags are sent as the window system would hand them to the widget under
// the pointer: Qt passes them up to the first parent that accepts drops.
class DragViewTest final : public QObject {
    Q_OBJECT

    std::unique_ptr<QWidget> m_window;
    DragView* m_view = nullptr;
    QList<QList<QUrl>> m_drops;

    QWidget* child(const QString& name) { return m_view->findChild<QWidget*>(name); }

    // Enter, move and drop over `target`; answers whether the drop was taken.
    bool drag(QWidget* target, const QList<QUrl>& urls, Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction)
    {
        // File managers offer the addresses as plain text too.
        QMimeData data;
        data.setUrls(urls);
        QStringList lines;
        for (const QUrl& url : urls)
            lines.append(url.toString());
        data.setText(lines.join(u'\n'));
        const QPoint at = target->rect().center();
        QDragEnterEvent enter(at, actions, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        if (!enter.isAccepted())
            return false;
        const bool lit = m_view->dragEntered();
        QDropEvent drop(at, actions, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &drop);
        if (drop.dropAction() == Qt::MoveAction)
            return false; // the source could delete the files
        return lit && drop.isAccepted();
    }

private slots:
    void init()
    {
        m_drops.clear();
        m_window = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(m_window.get());
        m_view = new DragView;
        layout->addWidget(m_view);
        layout->addWidget(new QLabel(QStringLiteral("outside")));
        m_view->setDragComplete([this](const QList<QUrl>& urls) { m_drops.append(urls); });
        m_view->setMinimumSize(200, 160);
        auto* inner = new QVBoxLayout(m_view);
        inner->addWidget(new QPushButton(QStringLiteral("button")));
        inner->addWidget(new QLabel(QStringLiteral("label")));
        // Added later and a taker of drops by nature.
        auto* edit = new QLineEdit;
        edit->setObjectName(QStringLiteral("edit"));
        inner->addWidget(edit);
        m_view->findChild<QPushButton*>()->setObjectName(QStringLiteral("button"));
        m_view->findChild<QLabel*>()->setObjectName(QStringLiteral("label"));
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }
    void cleanup() { m_window.reset(); }

    void dropsReachTheTargetWhole_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QList<QUrl>>("urls");
        QTest::addColumn<int>("actions");
        QTest::addColumn<bool>("taken");
        const int any = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
        QTest::newRow("five files on the view") << QString() << files(5) << any << true;
        QTest::newRow("one on the button") << QStringLiteral("button") << files(1) << any << true;
        QTest::newRow("two on the label") << QStringLiteral("label") << files(2) << any << true;
        QTest::newRow("three on a line edit") << QStringLiteral("edit") << files(3) << any << true;
        QTest::newRow("link only") << QString() << files(1) << int(Qt::LinkAction) << true;
        QTest::newRow("move only") << QString() << files(1) << int(Qt::MoveAction) << false;
        QTest::newRow("a web address") << QString() << (files(1) << QUrl(QStringLiteral("https://example.org/a.zip")))
                                       << any << false;
        QTest::newRow("no addresses") << QString() << QList<QUrl>() << any << false;
    }
    void dropsReachTheTargetWhole()
    {
        QFETCH(QString, target);
        QFETCH(QList<QUrl>, urls);
        QFETCH(int, actions);
        QFETCH(bool, taken);
        QWidget* widget = target.isEmpty() ? m_view : child(target);
        QCOMPARE(drag(widget, urls, Qt::DropActions::fromInt(actions)), taken);
        QCOMPARE(m_drops, taken ? QList<QList<QUrl>> { urls } : QList<QList<QUrl>>());
        QVERIFY(!m_view->dragEntered()); // out once the drag is over
    }

    void lightsWhileSomethingIsOver()
    {
        QVERIFY(!m_view->dragEntered());
        QTest::mouseMove(child(QStringLiteral("button")));
        QTRY_VERIFY(m_view->dragEntered());
        QCOMPARE(m_view->grab().toImage().pixelColor(2, 2), DragView::litFill());
        QTest::mouseMove(m_window->findChild<QLabel*>(QString(), Qt::FindDirectChildrenOnly));
        QTRY_VERIFY(!m_view->dragEntered());
        QCOMPARE(m_view->grab().toImage().pixelColor(2, 2), DragView::restingFill());

        QMimeData data;
        data.setUrls(files(1));
        QDragEnterEvent enter({ 5, 5 }, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m_view, &enter);
        QVERIFY(m_view->dragEntered());
        QDragLeaveEvent leave;
        QApplication::sendEvent(m_view, &leave);
        QVERIFY(!m_view->dragEntered());
    }
};

ZAVRIN_TEST(DragViewTest)
#include "tst_dragview.moc"
