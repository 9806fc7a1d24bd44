#pragma once

#include <QList>
#include <QSqlDatabase>
#include <QString>

// The analytics client's store of hit lines: the entity "Record" with its
// "text" attribute, kept in the SQLite file "GoogleAnalytics.storedata" inside
// one folder. Main thread only. The store is set up on first use; a failed
// set-up is tried again on the next use, so a folder the user repairs starts
// working. The first failure of the process is shown through the analytics
// client's error presenter, later ones are logged.
class KKGARecordStore final {
public:
    struct Record {
        qint64 id = 0;
        QString text;
    };

    explicit KKGARecordStore(const QString& folder);
    ~KKGARecordStore();
    KKGARecordStore(const KKGARecordStore&) = delete;
    KKGARecordStore& operator=(const KKGARecordStore&) = delete;

    QString folder() const { return m_folder; }
    QString filePath() const;

    // Adds one record and saves; false when there is no store.
    bool insert(const QString& text);
    // Every record, oldest first; empty when there is no store.
    QList<Record> fetchAll();
    // Deletes the records with these ids and saves.
    bool remove(const QList<qint64>& ids);

    static inline const QString kFileName = QStringLiteral("GoogleAnalytics.storedata");

private:
    bool ensureOpen();
    bool setUp(QString* error);
    void close();

    QString m_folder;
    QString m_connectionName;
    QSqlDatabase m_database;
};
