#pragma once

// The usage events the screens record, in order, read back from what the
// analytics client stored: it keeps every hit in order, and a batch sent to
// a loopback server hands them over. Tracking is switched on for good.
#include "telemetry/HttpClient.h"
#include "telemetry/KKGoogleAnalytics.h"
#include "telemetry/TrackManager.h"
#include "tests/support/LoopbackHttpServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QTest>
#include <QUrlQuery>

class TrackLog final {
public:
    TrackLog()
    {
        m_server.start();
        qputenv("ZAVRIN_ENDPOINT_BASE", m_server.baseUrl().toString().toUtf8());
        if (!TrackManager::TrackEnable())
            TrackManager::initialWithLaunchOptions({});
        take();
    }
    ~TrackLog()
    {
        take();
        static_cast<void>(QTest::qWaitFor([] { return HttpClient::requestsInFlight() == 0; }, 5000));
        qunsetenv("ZAVRIN_ENDPOINT_BASE");
    }
    TrackLog(const TrackLog&) = delete;
    TrackLog& operator=(const TrackLog&) = delete;

    // The page and funnel events recorded since the last call, oldest first:
    // "VC_FileZip/Zip" for a page event, "Complete_Zip/zip_zip/3" for a step.
    QStringList take()
    {
        KKGoogleAnalytics& analytics = KKGoogleAnalytics::sharedInstance();
        const qsizetype before = m_server.requestCount();
        if (!analytics.dispatch())
            return {};
        if (!QTest::qWaitFor([&] { return !analytics.isBatchInFlight() && m_server.requestCount() > before; }, 5000))
            return { QStringLiteral("no batch") };
        QStringList events;
        const QList<LoopbackHttpServer::Request> requests = m_server.requests();
        for (const LoopbackHttpServer::Request& request : requests.mid(before)) {
            if (request.path != "/batch")
                continue;
            for (const QString& line : QString::fromUtf8(request.body).split(u'\n', Qt::SkipEmptyParts))
                events += decode(QUrlQuery(line));
        }
        return events;
    }

private:
    static QStringList decode(const QUrlQuery& hit)
    {
        if (hit.queryItemValue(QStringLiteral("ec")) == QLatin1String("button_click"))
            return { hit.queryItemValue(QStringLiteral("ea")) + u'/' + hit.queryItemValue(QStringLiteral("el")) };
        for (const auto& [key, value] : hit.queryItems(QUrl::FullyDecoded)) {
            if (!key.startsWith(QLatin1String("Complete_")))
                continue;
            const QJsonObject step = QJsonDocument::fromJson(value.toUtf8()).object();
            return { key + u'/' + step[u"step_name"].toString() + u'/' + QString::number(step[u"step_order"].toInt()) };
        }
        return {};
    }

    LoopbackHttpServer m_server;
};
