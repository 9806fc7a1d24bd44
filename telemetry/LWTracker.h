#pragma once

#include "telemetry/HttpClient.h"

#include <QJsonObject>
#include <QString>
#include <QUrl>
#include <QVariantMap>
#include <functional>

// The log warehouse tracker: posts each usage event as one JSON document,
// with the user, application, location and device facts around it, to the
// log collection service's "/api/log/receive". Ordinary events are tried
// once; important ones and the session start are tried again every second
// until delivered, for as long as the process runs. When the service is not
// configured the document is built and logged, and nothing is sent.
// Class operations may be called from any thread; instance operations and
// every completion run on the main thread.
class LWTracker final {
public:
    static LWTracker& shareInstance();

    // Sends the session-start event "qv_launch_event".
    static void StartSession();
    static void TrackEvent(const QString& name, const QVariantMap& params);
    static void TrackImportantEvent(const QString& name, const QVariantMap& params);

    // Whole seconds since 1970.
    static qint64 getCurrentTimes();
    // Installation and last-update times, whole milliseconds since 1970; 0 when unknown.
    static qint64 appInstallTime();
    static qint64 appUpdateTime();
    // MD5 of the text's UTF-8 bytes as 32 upper-case hexadecimal digits.
    static QString MD5_32BIT(const QString& text);
    // "true" on the calendar day the program first ran, else "false".
    static QString getIsNewUser();
    // The service's address; empty when not configured.
    static QUrl logEndpoint();

    // The envelope: every key of the document but the three event keys.
    void getBaseInfo(const std::function<void(QJsonObject)>& completion);
    // The user id, made and stored on first need.
    QString getUserID();
    QJsonObject getAppInfo();
    QJsonObject getUserinfo();
    QJsonObject getGeoinfo();
    void getDeviceInfo(const std::function<void(QJsonObject)>& completion);
    // The browser user agent, worked out once.
    void getUserAgent(const std::function<void(QString)>& completion);
    // The session id, made per process.
    QString sessionId();

    // One attempt.
    void sendTrackData(const QJsonObject& record);
    // Attempts until delivered, one second apart.
    void forceSendTrackData(const QJsonObject& record);
    // The single POST.
    void sendTrackData(const QJsonObject& record, HttpClient::Completion complete);

private:
    LWTracker();
    Q_DISABLE_COPY_MOVE(LWTracker)

    static void track(const QString& name, const QVariantMap& params, bool important);

    QString m_userAgent;
    QString m_sessionId;
};
