#include "app/TelemetrySetup.h"

#include "platform/MainQueue.h"
#include "telemetry/KKGASystemInfo.h"
#include "telemetry/KKGoogleAnalytics.h"
#include "ui/WindowLookup.h"

#include <QApplication>
#include <QMessageBox>
#include <QMutex>
#include <QMutexLocker>
#include <QScreen>

namespace {

QMutex g_screenMutex;
KKGASystemInfo::ScreenFacts g_lastScreen;

// QScreen belongs to the GUI thread; other threads get what it last showed.
KKGASystemInfo::ScreenFacts primaryScreen()
{
    QMutexLocker lock(&g_screenMutex);
    if (!MainQueue::isMainThread())
        return g_lastScreen;
    KKGASystemInfo::ScreenFacts facts;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        facts.width = screen->size().width();
        facts.height = screen->size().height();
        facts.depth = screen->depth();
    }
    g_lastScreen = facts;
    return facts;
}

void presentStoreError(const QString& message)
{
    // Window-modal and not waited for: the launch goes on behind it.
    auto* box = new QMessageBox(QMessageBox::Warning, QApplication::applicationDisplayName(), message, QMessageBox::Ok,
        WindowLookup::mainWindow());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

} // namespace

void TelemetrySetup::install()
{
    primaryScreen();
    KKGASystemInfo::setScreenProvider(primaryScreen);
    KKGoogleAnalytics::setErrorPresenter(presentStoreError);
}
