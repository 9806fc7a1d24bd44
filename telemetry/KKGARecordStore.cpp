#include "telemetry/KKGARecordStore.h"

#include "platform/Logging.h"
#include "platform/MainQueue.h"
#include "telemetry/KKGoogleAnalytics.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QUrl>
#include <atomic>

namespace {

// Every store needs its own connection name: tests and tools open several
// clients over the same file in one process.
QString nextConnectionName()
{
    static std::atomic<int> counter { 0 };
    return QStringLiteral("KKGoogleAnalytics.store.") + QString::number(++counter);
}

// SQLite's SQLITE_CORRUPT and SQLITE_NOTADB, the primary codes of a file
// that is no readable database (extended codes carry them in the low byte).
bool isUnreadable(const QSqlError& error)
{
    const int code = error.nativeErrorCode().toInt() & 0xff;
    return code == 11 || code == 26;
}

} // namespace

KKGARecordStore::KKGARecordStore(const QString& folder, int capacity)
    : m_folder(folder)
    , m_capacity(qMax(1, capacity))
    , m_connectionName(nextConnectionName())
{
}

KKGARecordStore::~KKGARecordStore()
{
    close();
}

QString KKGARecordStore::filePath() const
{
    return QDir(m_folder).filePath(kFileName);
}

void KKGARecordStore::close()
{
    if (!m_database.isValid())
        return;
    m_database.close();
    m_database = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connectionName);
}

bool KKGARecordStore::openDatabase(QString* error, bool* unreadable)
{
    m_database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    m_database.setDatabaseName(filePath());
    if (!m_database.open()) {
        *error = m_database.lastError().text();
        *unreadable = isUnreadable(m_database.lastError());
        close();
        return false;
    }
    // WAL with NORMAL synchronisation: a write appends to the log without
    // waiting for the disk, and a crash can lose at most the last hits, never
    // the file. The count reads the table, so a damaged file shows here.
    QSqlQuery query(m_database);
    const QStringList statements { QStringLiteral("PRAGMA journal_mode=WAL"),
        QStringLiteral("PRAGMA synchronous=NORMAL"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS Record (id INTEGER PRIMARY KEY AUTOINCREMENT, text TEXT NOT NULL)"),
        QStringLiteral("SELECT COUNT(*) FROM Record") };
    for (const QString& statement : statements) {
        if (!query.exec(statement)) {
            *error = query.lastError().text();
            *unreadable = isUnreadable(query.lastError());
            query = QSqlQuery();
            close();
            return false;
        }
    }
    m_count = query.next() ? query.value(0).toInt() : 0;
    return true;
}

bool KKGARecordStore::setUp(QString* error)
{
    const QFileInfo info(m_folder);
    if (!info.exists()) {
        if (!QDir().mkpath(m_folder)) {
            *error = QStringLiteral("Could not create the folder to store application data (%1).").arg(m_folder);
            return false;
        }
    } else if (!info.isDir()) {
        *error = QStringLiteral("Expected a folder to store application data, found a file (%1).").arg(m_folder);
        return false;
    }

    bool unreadable = false;
    if (openDatabase(error, &unreadable)) {
        trimToCapacity();
        return true;
    }
    if (!unreadable || !moveAside())
        return false;
    // The failure is still reported, but analytics goes on with a new store.
    QString retryError;
    if (!openDatabase(&retryError, &unreadable)) {
        *error = retryError;
        return false;
    }
    return true;
}

bool KKGARecordStore::moveAside()
{
    // "GoogleAnalytics.storedata.broken-20240501-093000", never replacing an earlier one.
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = filePath() + QStringLiteral(".broken-") + stamp;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = filePath() + QStringLiteral(".broken-") + stamp + u'-' + QString::number(n);
    if (!QFile::rename(filePath(), target)) {
        qCWarning(
            lcTelemetry, "analytics store unreadable and could not be moved aside: %s", qUtf8Printable(filePath()));
        return false;
    }
    // A log left beside the old file must not be replayed into the new one.
    for (const QString& suffix : { QStringLiteral("-wal"), QStringLiteral("-shm") }) {
        if (QFileInfo::exists(filePath() + suffix) && !QFile::rename(filePath() + suffix, target + suffix))
            QFile::remove(filePath() + suffix);
    }
    qCWarning(lcTelemetry, "analytics store unreadable, moved aside to %s; starting a new one", qUtf8Printable(target));
    return true;
}

bool KKGARecordStore::ensureOpen()
{
    if (m_database.isValid() && m_database.isOpen())
        return true;
    QString error;
    const bool ready = setUp(&error);
    if (!error.isEmpty()) {
        if (!m_failureReported) {
            m_failureReported = true;
            KKGoogleAnalytics::presentError(error);
            if (!ready)
                qCWarning(lcTelemetry, "%s: %s", "Failed to initialize the store",
                    "There was an error building up the data file.");
        } else {
            qCDebug(lcTelemetry) << "analytics store still unusable:" << error;
        }
    }
    return ready;
}

void KKGARecordStore::recoverIfUnreadable(const QSqlError& error)
{
    if (!isUnreadable(error))
        return;
    close();
    moveAside();
}

void KKGARecordStore::trimToCapacity()
{
    if (m_count <= m_capacity)
        return;
    // Down to nine tenths, so that a full store logs once per many hits.
    const int excess = m_count - (m_capacity - m_capacity / 10);
    QSqlQuery query(m_database);
    query.prepare(QStringLiteral("DELETE FROM Record WHERE id IN (SELECT id FROM Record ORDER BY id LIMIT ?)"));
    query.addBindValue(excess);
    if (!query.exec()) {
        qCWarning(lcTelemetry) << "analytics store trim failed:" << query.lastError().text();
        return;
    }
    const int dropped = query.numRowsAffected();
    m_count -= dropped;
    qCWarning(lcTelemetry, "analytics store full: dropped the %d oldest hits", dropped);
}

void KKGARecordStore::noteWrite()
{
    if (++m_writesSinceCheckpoint < kWritesPerCheckpoint || m_checkpointRunning->exchange(true))
        return;
    m_writesSinceCheckpoint = 0;
    // Its own connection, opened without creating: a store moved aside or
    // deleted meanwhile is not made again.
    QUrl uri = QUrl::fromLocalFile(filePath());
    uri.setQuery(QStringLiteral("mode=rw"));
    WorkerPool::async([uri = uri.toString(QUrl::FullyEncoded), running = m_checkpointRunning] {
        const QString name = nextConnectionName();
        {
            QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            database.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI"));
            database.setDatabaseName(uri);
            if (database.open()) {
                QSqlQuery query(database);
                if (!query.exec(QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)")))
                    qCDebug(lcTelemetry) << "analytics store checkpoint failed:" << query.lastError().text();
            }
            database.close();
        }
        QSqlDatabase::removeDatabase(name);
        running->store(false);
    });
}

bool KKGARecordStore::insert(const QString& text)
{
    if (!ensureOpen())
        return false;
    QSqlError failure;
    {
        QSqlQuery query(m_database);
        query.prepare(QStringLiteral("INSERT INTO Record (text) VALUES (?)"));
        query.addBindValue(text);
        if (!query.exec())
            failure = query.lastError();
    }
    if (failure.isValid()) {
        qCWarning(lcTelemetry) << "analytics store insert failed:" << failure.text();
        recoverIfUnreadable(failure);
        return false;
    }
    ++m_count;
    trimToCapacity();
    noteWrite();
    return true;
}

QList<KKGARecordStore::Record> KKGARecordStore::fetchOldest(int limit)
{
    QList<Record> records;
    if (!ensureOpen())
        return records;
    QSqlError failure;
    {
        QSqlQuery query(m_database);
        query.prepare(QStringLiteral("SELECT id, text FROM Record ORDER BY id LIMIT ?"));
        query.addBindValue(limit);
        if (!query.exec())
            failure = query.lastError();
        while (query.next())
            records.append({ query.value(0).toLongLong(), query.value(1).toString() });
    }
    if (failure.isValid()) {
        qCWarning(lcTelemetry) << "analytics store fetch failed:" << failure.text();
        recoverIfUnreadable(failure);
    }
    return records;
}

bool KKGARecordStore::remove(const QList<qint64>& ids)
{
    if (ids.isEmpty())
        return true;
    if (!ensureOpen())
        return false;
    // One transaction: the batch's records go together or not at all.
    m_database.transaction();
    QSqlQuery query(m_database);
    query.prepare(QStringLiteral("DELETE FROM Record WHERE id = ?"));
    int deleted = 0;
    for (const qint64 id : ids) {
        query.addBindValue(id);
        if (!query.exec()) {
            qCWarning(lcTelemetry) << "analytics store delete failed:" << query.lastError().text();
            m_database.rollback();
            return false;
        }
        deleted += qMax(0, query.numRowsAffected());
    }
    if (!m_database.commit())
        return false;
    m_count -= deleted;
    noteWrite();
    return true;
}
