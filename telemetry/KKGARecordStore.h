#pragma once

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <atomic>
#include <memory>

class QSqlError;

// The analytics client's store of hit lines: the entity "Record" with its
// "text" attribute, kept in the SQLite file "GoogleAnalytics.storedata" inside
// one folder, in WAL mode so that a write costs no flush to disk; the log is
// copied into the file (which does flush) on a worker. Main thread only. The store is set up on first use; a failed
// set-up is tried again on the next use, so a folder the user repairs starts working. A file that is not a readable
// database is moved aside under a dated name and a new store is started. The first failure of the process is shown
// through the analytics client's error presenter, later ones are logged.
class KKGARecordStore final {
public:
    struct Record {
        qint64 id = 0;
        QString text;
    };

    // Keeps at most `capacity` records; the oldest go first.
    explicit KKGARecordStore(const QString& folder, int capacity = kDefaultCapacity);
    ~KKGARecordStore();
    KKGARecordStore(const KKGARecordStore&) = delete;
    KKGARecordStore& operator=(const KKGARecordStore&) = delete;

    QString folder() const { return m_folder; }
    QString filePath() const;

    // Adds one record, dropping the oldest beyond the capacity; false when
    // there is no store.
    bool insert(const QString& text);
    // Up to `limit` records, oldest first; empty when there is no store.
    QList<Record> fetchOldest(int limit);
    // Deletes the records with these ids.
    bool remove(const QList<qint64>& ids);

    static inline const QString kFileName = QStringLiteral("GoogleAnalytics.storedata");
    // A few weeks of heavy use; about 4 MB.
    static constexpr int kDefaultCapacity = 10000;
    static constexpr int kWritesPerCheckpoint = 100;

private:
    bool ensureOpen();
    bool setUp(QString* error);
    bool openDatabase(QString* error, bool* unreadable);
    bool moveAside();
    void close();
    void trimToCapacity();
    // Counts a write; every so many, copies the log into the file on a worker.
    void noteWrite();
    // Moves a store that turned out unreadable in use aside; the next use starts a new one.
    void recoverIfUnreadable(const QSqlError& error);

    QString m_folder;
    int m_capacity;
    QString m_connectionName;
    QSqlDatabase m_database;
    int m_count = 0;
    bool m_failureReported = false;
    int m_writesSinceCheckpoint = 0;
    std::shared_ptr<std::atomic<bool>> m_checkpointRunning = std::make_shared<std::atomic<bool>>(false);
};
