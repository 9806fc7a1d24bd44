#include "ui/AnalyticsDebugWindowController.h"

#include "platform/Bundle.h"
#include "platform/Defaults.h"
#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QJsonDocument>
#include <QPointer>
#include <QStandardItemModel>
#include <QTableView>
#include <QThread>
#include <QVBoxLayout>
#include <QWidget>

namespace {

// The keys most hits carry come first; others get a column when first seen.
const QStringList& leadingKeys()
{
    static const QStringList keys { QStringLiteral("t"), QStringLiteral("ec"), QStringLiteral("ea"),
        QStringLiteral("el"), QStringLiteral("ev"), QStringLiteral("cd"), QStringLiteral("gaid") };
    return keys;
}

QString textOf(const QVariant& value)
{
    // Nested maps and lists have no text form of their own.
    if (value.typeId() == QMetaType::QVariantMap || value.typeId() == QMetaType::QVariantList)
        return QString::fromUtf8(QJsonDocument::fromVariant(value).toJson(QJsonDocument::Compact));
    return value.toString();
}

QString describe(const QVariantMap& event)
{
    QStringList lines;
    for (auto it = event.cbegin(); it != event.cend(); ++it)
        lines.append(it.key() + u'=' + textOf(it.value()));
    return lines.join(u'\n');
}

} // namespace

AnalyticsDebugWindowController::AnalyticsDebugWindowController(Level level, QObject* parent)
    : QObject(parent)
    , m_level(level)
    , m_eventsArrayController(new QStandardItemModel(this))
{
    for (const QString& key : leadingKeys())
        columnForKey(key);
    auto* app = QCoreApplication::instance();
    if (!parent && app && thread() != app->thread())
        moveToThread(app->thread());
    NotificationCenter::defaultCenter().addObserver(
        kAnalyticsEventNotification, this, [this](const Notification& n) { analyticsReceived(n); });
}

AnalyticsDebugWindowController::~AnalyticsDebugWindowController() = default;

bool AnalyticsDebugWindowController::isDebugMenuEnabled(const Defaults& defaults)
{
    return defaults.boolForKey(kShowDebugMenuKey);
}

std::unique_ptr<AnalyticsDebugWindowController> AnalyticsDebugWindowController::makeIfEnabled(
    const Defaults& defaults, Level level)
{
    if (!isDebugMenuEnabled(defaults))
        return nullptr;
    return std::make_unique<AnalyticsDebugWindowController>(level);
}

AnalyticsDebugWindowController* AnalyticsDebugWindowController::sharedController(Level level)
{
    // Decided once per level: with the setting off there is no controller
    // for the rest of the process. Kept to the end of the process.
    if (level == Level::StaysOnTop) {
        static AnalyticsDebugWindowController* onTop = makeIfEnabled(Defaults::standard(), level).release();
        return onTop;
    }
    static AnalyticsDebugWindowController* normal = makeIfEnabled(Defaults::standard(), level).release();
    return normal;
}

void AnalyticsDebugWindowController::showWindow(Level level)
{
    if (auto* controller = sharedController(level))
        controller->show();
}

void AnalyticsDebugWindowController::analyticsReceived(const Notification& notification)
{
    const QVariantMap event = notification.userInfo;
    if (MainQueue::isMainThread()) {
        insertEvent(event);
        return;
    }
    QPointer<AnalyticsDebugWindowController> self(this);
    MainQueue::async([self, event] {
        if (self)
            self->insertEvent(event);
    });
}

void AnalyticsDebugWindowController::insertEvent(const QVariantMap& event)
{
    m_eventsArray.prepend(event);
    QList<QStandardItem*> row;
    for (auto it = event.cbegin(); it != event.cend(); ++it)
        columnForKey(it.key());
    const QString details = describe(event);
    for (int column = 0; column < m_eventsArrayController->columnCount(); ++column) {
        const QString key = m_eventsArrayController->horizontalHeaderItem(column)->text();
        auto* item = new QStandardItem(event.contains(key) ? textOf(event.value(key)) : QString());
        item->setEditable(false);
        item->setToolTip(details);
        row.append(item);
    }
    row.first()->setData(event, Qt::UserRole);
    m_eventsArrayController->insertRow(0, row);
}

int AnalyticsDebugWindowController::columnForKey(const QString& key)
{
    for (int column = 0; column < m_eventsArrayController->columnCount(); ++column) {
        if (m_eventsArrayController->horizontalHeaderItem(column)->text() == key)
            return column;
    }
    const int column = m_eventsArrayController->columnCount();
    m_eventsArrayController->setColumnCount(column + 1);
    // Wire keys are protocol names, shown as they are.
    m_eventsArrayController->setHorizontalHeaderItem(column, new QStandardItem(key));
    return column;
}

QWidget* AnalyticsDebugWindowController::window()
{
    if (m_window)
        return m_window.get();
    Qt::WindowFlags flags = Qt::Window;
    if (m_level == Level::StaysOnTop)
        flags |= Qt::WindowStaysOnTopHint;
    m_window = std::make_unique<QWidget>(nullptr, flags);
    m_window->setObjectName(QStringLiteral("AnalyticsWindow"));
    m_window->setWindowTitle(L(QStringLiteral("分析事件")));

    auto* table = new QTableView(m_window.get());
    table->setObjectName(QStringLiteral("eventsTableView"));
    table->setModel(m_eventsArrayController);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setAlternatingRowColors(true);
    table->verticalHeader()->setVisible(false);
    table->horizontalHeader()->setStretchLastSection(true);

    auto* layout = new QVBoxLayout(m_window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(table);
    m_window->resize(720, 420);
    return m_window.get();
}

void AnalyticsDebugWindowController::show()
{
    QWidget* shown = window();
    shown->show();
    shown->raise();
    shown->activateWindow();
}
