#pragma once

// Helpers of the screen tests: the presenting window, controls by outlet
// name, jobs' notifications, a file manager that records, and the usage
// events screens record. It brings the widget classes the tests look up.
#include "engine/JobModels.h"
#include "engine/NotifyManager.h"
#include "platform/NotificationCenter.h"
#include "platform/Workspace.h"
#include "telemetry/HttpClient.h"
#include "telemetry/KKGoogleAnalytics.h"
#include "telemetry/TrackManager.h"
#include "tests/support/LoopbackHttpServer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>
#include <memory>

template <typename T = QWidget> T* outlet(const QWidget* screen, const char* name)
{
    return screen->findChild<T*>(QString::fromLatin1(name));
}

inline std::unique_ptr<QMainWindow> shownWindow()
{
    auto window = std::make_unique<QMainWindow>();
    window->setCentralWidget(new QWidget);
    window->show();
    return window;
}

// A job of made-up paths, for sheets whose job is never run: `item`
// extracted into the folder `savePath`, or packed into the archive.
inline std::shared_ptr<UnzipModel> madeUpJob(bool zip, const QString& item, const QString& savePath)
{
    std::shared_ptr<UnzipModel> model = zip ? std::make_shared<ZipModel>() : std::make_shared<UnzipModel>();
    model->paths = { item };
    model->savePath = savePath;
    return model;
}

// Posts `name` for the job of `key` as the engine does, with `extra`.
inline void postJob(const QString& name, const QString& key, const QVariantMap& extra = {})
{
    QVariantMap object = extra;
    object.insert(NotifyManager::pathKey(), key);
    NotificationCenter::defaultCenter().post(name, object);
}

class RecordingWorkspace final : public Workspace {
public:
    RecordingWorkspace() { Workspace::setShared(this); }
    ~RecordingWorkspace() override { Workspace::setShared(nullptr); }
    void openInFileManager(const QString& path) override { opened.append(path); }
    bool openUrl(const QUrl& url) override
    {
        urls.append(url);
        return !noHandler;
    }
    QStringList opened;
    QList<QUrl> urls;
    bool noHandler = false; // as on a desktop without xdg-open
};

// The analytics client keeps every hit in order; a batch sent to a loopback
// server hands them over. Tracking is switched on for good.
class TrackLog final {
public:
    TrackLog()
    {
        m_server.start();
        m_server.serveEndpoints();
        if (!TrackManager::TrackEnable())
            TrackManager::initialWithLaunchOptions({});
        take();
    }
    ~TrackLog()
    {
        take();
        static_cast<void>(QTest::qWaitFor([] { return HttpClient::requestsInFlight() == 0; }, 5000));
    }
    TrackLog(const TrackLog&) = delete;
    TrackLog& operator=(const TrackLog&) = delete;

    // The events since the last call, oldest first: "VC_FileZip/Zip" for a
    // page event, "Complete_Zip/zip_zip/3" for a funnel step.
    QStringList take()
    {
        KKGoogleAnalytics& analytics = KKGoogleAnalytics::sharedInstance();
        const int before = m_server.requestCount();
        if (!analytics.dispatch())
            return {};
        if (!QTest::qWaitFor([&] { return !analytics.isBatchInFlight() && m_server.requestCount() > before; }, 5000))
            return { QStringLiteral("no batch") };
        QStringList events;
        for (const LoopbackHttpServer::Request& request : m_server.requests().mid(before)) {
            for (const QString& line : QString::fromUtf8(request.body).split(u'\n', Qt::SkipEmptyParts)) {
                const QUrlQuery hit(line);
                if (hit.queryItemValue(QStringLiteral("ec")) == QLatin1String("button_click"))
                    events << hit.queryItemValue(QStringLiteral("ea")) + u'/'
                            + hit.queryItemValue(QStringLiteral("el"));
                for (const auto& [key, value] : hit.queryItems(QUrl::FullyDecoded)) {
                    const QJsonObject step = QJsonDocument::fromJson(value.toUtf8()).object();
                    if (key.startsWith(QLatin1String("Complete_")))
                        events << key + u'/' + step[u"step_name"].toString() + u'/'
                                + QString::number(step[u"step_order"].toInt());
                }
            }
        }
        return events;
    }

private:
    LoopbackHttpServer m_server;
};
