#pragma once

#include "telemetry/KKGARecordStore.h"

#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <optional>

class Defaults;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// The batched analytics client. Each hit is completed with the client's
// identity and system facts, form-encoded into one line and kept in an SQLite
// store of bounded size. At start-up and every 120 seconds the stored lines
// go out, oldest first, in POSTs of at most 20 lines and 16 KB to the
// analytics endpoint's "/batch", one after the other until the store is empty
// or a request fails; a batch's lines are deleted once a complete HTTP
// response of any status came back. Without an analytics endpoint nothing is
// stored, sent or timed: hits are only logged. The object lives on the main
// thread; `send` and `dispatch` may be called from any thread.
class KKGoogleAnalytics final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(KKGoogleAnalytics)

public:
    // The process's client: its store under the user's data folder, its client
    // id in the standard defaults. Made and started on the first call, which
    // should come from the main thread (the facade's start-up).
    static KKGoogleAnalytics& sharedInstance();

    // A client over the store in `storeFolder` keeping its client id in
    // `defaults` (not owned) and at most `storeCapacity` hits. Starts like the
    // shared one: when an endpoint is configured, one dispatch, then the timer.
    KKGoogleAnalytics(const QString& storeFolder, Defaults& defaults, QObject* parent = nullptr,
        int storeCapacity = KKGARecordStore::kDefaultCapacity);
    ~KKGoogleAnalytics() override;

    void setTrackingID(const QString& trackingID);
    QString trackingID() const;
    // Sent as "uid" when not empty.
    void setUserID(const QString& userID);
    QString userID() const;
    QString clientID() const { return m_clientID; }

    // Completes, encodes and stores one hit. The line is stored at once on
    // the main thread, otherwise queued to it. Without a store, or without an
    // endpoint, it is lost.
    void send(const QVariantMap& hit);
    // The line `send` stores for `hit`.
    QString encodedHit(const QVariantMap& hit) const;
    // Starts sending the stored lines; false when a batch is still in
    // flight, nothing is stored, or the endpoint is not configured. Waits for
    // the main thread when called from elsewhere.
    bool dispatch();
    // Whether a batch request has been started and not yet finished. Main thread only.
    bool isBatchInFlight() const;
    // (Re)starts the repeating 120-second dispatch timer. Main thread only.
    void startDispatching();
    void pauseDispatching();
    bool isDispatching() const;
    // The timer's callback.
    void timer();
    // The folder holding the store file.
    QString applicationFilesDirectory() const;

    // A batch request with no progress for this long fails; its lines stay.
    void setRequestTimeout(int msecs) { m_requestTimeoutMsecs = msecs; }
    // Whether hits are kept and sent: an analytics endpoint is configured.
    static bool isConfigured();

    // "Holvane/<version> (X11; <CPU type> Linux <system version>; <model>)",
    // the version from os-release as "12_0_0".
    static QString userAgent();

    // Shows a store error to the user: the application shows a message box;
    // by default it is logged. Called on the main thread. Only the first error
    // of the process reaches the presenter (installing one re-arms it); the
    // rest are logged.
    static void setErrorPresenter(std::function<void(const QString& message)> presenter);
    static void presentError(const QString& message);

    static constexpr int kDispatchIntervalSeconds = 120;
    static constexpr int kRequestTimeoutSeconds = 60;
    static constexpr int kBatchMaxHits = 20;
    static constexpr qsizetype kBatchMaxBytes = 16 * 1024;
    static inline const QString kClientIDKey = QStringLiteral("GoogleAnalyticsClientID");

private:
    static QString defaultStoreFolder();
    bool startBatch();
    void onBatchFinished(QNetworkReply* reply, const QList<qint64>& ids);
    static bool answeredInFull(const QNetworkReply* reply);
    void store(const QString& line);

    mutable QMutex m_mutex;
    QString m_trackingID;
    QString m_userID;
    QString m_clientID;
    QString m_screenResolution;
    std::optional<QString> m_screenDepth;
    QString m_language;

    QString m_storeFolder;
    std::unique_ptr<KKGARecordStore> m_store;
    QNetworkAccessManager* m_network = nullptr;
    QTimer* m_timer = nullptr;
    QPointer<QNetworkReply> m_reply;
    int m_requestTimeoutMsecs = kRequestTimeoutSeconds * 1000;
};
