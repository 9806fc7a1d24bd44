#include "telemetry/KKGARecordStore.h"

#include "platform/Logging.h"
#include "telemetry/KKGoogleAnalytics.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

#include <atomic>

namespace {

// Every store needs its own connection name: tests and tools open several
// clients over the same file in one process.
QString nextConnectionName()
{
    static std::atomic<int> counter{0};
    return QStringLiteral("KKGoogleAnalytics.store.") + QString::number(++counter);
}

} // namespace

KKGARecordStore::KKGARecordStore(const QString& folder)
    : m_folder(folder)
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

    m_database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    m_database.setDatabaseName(filePath());
    if (!m_database.open()) {
        *error = m_database.lastError().text();
        close();
        return false;
    }
    QSqlQuery query(m_database);
    if (!query.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS Record ("
                                   "id INTEGER PRIMARY KEY AUTOINCREMENT, text TEXT NOT NULL)"))) {
        *error = query.lastError().text();
        close();
        return false;
    }
    return true;
}

bool KKGARecordStore::ensureOpen()
{
    if (m_database.isValid() && m_database.isOpen())
        return true;
    QString error;
    if (setUp(&error))
        return true;
    KKGoogleAnalytics::presentError(error);
    qCWarning(lcTelemetry, "%s: %s", "Failed to initialize the store", "There was an error building up the data file.");
    return false;
}

bool KKGARecordStore::insert(const QString& text)
{
    if (!ensureOpen())
        return false;
    QSqlQuery query(m_database);
    query.prepare(QStringLiteral("INSERT INTO Record (text) VALUES (?)"));
    query.addBindValue(text);
    if (!query.exec()) {
        qCWarning(lcTelemetry) << "analytics store insert failed:" << query.lastError().text();
        return false;
    }
    return true;
}

QList<KKGARecordStore::Record> KKGARecordStore::fetchAll()
{
    QList<Record> records;
    if (!ensureOpen())
        return records;
    QSqlQuery query(m_database);
    if (!query.exec(QStringLiteral("SELECT id, text FROM Record ORDER BY id"))) {
        qCWarning(lcTelemetry) << "analytics store fetch failed:" << query.lastError().text();
        return records;
    }
    while (query.next())
        records.append({query.value(0).toLongLong(), query.value(1).toString()});
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
    for (const qint64 id : ids) {
        query.addBindValue(id);
        if (!query.exec()) {
            qCWarning(lcTelemetry) << "analytics store delete failed:" << query.lastError().text();
            m_database.rollback();
            return false;
        }
    }
    return m_database.commit();
}
