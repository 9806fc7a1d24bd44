#pragma once

#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

class Defaults;
class KKGARecordStore;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// The batched analytics client. Each hit is completed with the client's
// identity and system facts, form-encoded into one line and kept in an SQLite
// store; all stored lines go out together in one POST to the analytics
// endpoint's "/batch" at start-up and every 120 seconds, and are deleted once
// that request got an HTTP response of any status. The object lives on the
// main thread; `send` and `dispatch` may be called from any thread.
class KKGoogleAnalytics final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(KKGoogleAnalytics)

public:
    // The process's client: its store under the user's data folder, its client
    // id in the standard defaults. Made and started on the first call, which
    // should come from the main thread (the facade's start-up).
    static KKGoogleAnalytics& sharedInstance();

    // A client over the store in `storeFolder` keeping its client id in
    // `defaults` (not owned). Starts like the shared one: one dispatch, then
    // the timer.
    KKGoogleAnalytics(const QString& storeFolder, Defaults& defaults, QObject* parent = nullptr);
    ~KKGoogleAnalytics() override;

    void setTrackingID(const QString& trackingID);
    QString trackingID() const;
    // Sent as "uid" when not empty.
    void setUserID(const QString& userID);
    QString userID() const;
    QString clientID() const { return m_clientID; }

    // Completes, encodes and stores one hit. The line is stored at once on
    // the main thread, otherwise queued to it. Without a store it is lost.
    void send(const QVariantMap& hit);
    // The line `send` stores for `hit`.
    QString encodedHit(const QVariantMap& hit) const;
    // Starts one batch request with every stored line; false when a batch is
    // still in flight, nothing is stored, or the endpoint is not configured
    // (the lines then stay stored). Waits for the main thread when called
    // from elsewhere.
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

    // "Holvane/<version> (X11; <CPU type> Linux <kernel version>; <model>)".
    static QString userAgent();

    // Shows a store error to the user: the application shows a message box;
    // by default it is logged. Called on the main thread. Only the first error
    // of the process reaches the presenter (installing one re-arms it); the
    // rest are logged.
    static void setErrorPresenter(std::function<void(const QString& message)> presenter);
    static void presentError(const QString& message);

    static constexpr int kDispatchIntervalSeconds = 120;
    static constexpr int kRequestTimeoutSeconds = 60;
    static inline const QString kClientIDKey = QStringLiteral("GoogleAnalyticsClientID");

private:
    static QString defaultStoreFolder();
    bool startBatch();
    void onBatchFinished(QNetworkReply* reply, const QList<qint64>& ids);
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
};
