#include "engine/safety/EntrySink.h"

#include "engine/JobStop.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

EntrySink::EntrySink(QString folder, LogCategory log)
    : m_folder(std::move(folder))
    , m_log(log)
{
}

std::optional<QStringList> EntrySink::admit(const QString& name)
{
    std::optional<QStringList> path = SafeDestination::splitEntryName(name);
    if (!path)
        fail(QStringLiteral("refused: unsafe entry name ") + name);
    return path;
}

bool EntrySink::open(bool undoable)
{
    // A refused archive must not even create the destination.
    if (hasFailed())
        return false;
    m_destination.emplace(m_folder, undoable);
    if (!m_destination->isOpen())
        fail(m_destination->openFailure());
    return !hasFailed();
}

bool EntrySink::stopRequested()
{
    if (m_diskFull)
        return true;
    if (!JobStop::requested())
        return false;
    fail(QStringLiteral("stopped"), Outcome::Status::Cancelled);
    return true;
}

bool EntrySink::placed(const Outcome& outcome)
{
    if (outcome.isFailure())
        fail(outcome);
    return outcome.ok();
}

bool EntrySink::folder(const QStringList& path, const EntryMeta& meta)
{
    return placed(m_destination->makeDirectory(path, meta));
}

bool EntrySink::link(const QStringList& path, const QByteArray& target, const EntryMeta& meta)
{
    return placed(m_destination->makeSymlink(path, target, meta));
}

bool EntrySink::hardLink(const QStringList& path, const QStringList& existing)
{
    return placed(m_destination->hardLinkEntry(path, existing));
}

bool EntrySink::copy(const QStringList& path, const QStringList& existing, const EntryMeta& meta)
{
    return placed(m_destination->copyEntry(path, existing, meta));
}

bool EntrySink::moveIn(int fromDirFd, const QByteArray& fromName, const QStringList& path)
{
    return placed(m_destination->moveIn(fromDirFd, fromName, path));
}

bool EntrySink::beginFile(const QStringList& path, PendingFile& file, const EntryMeta& meta)
{
    return placed(m_destination->beginFile(path, file, meta));
}

bool EntrySink::commitFile(PendingFile& file, const EntryMeta& meta)
{
    return placed(m_destination->commitFile(file, meta));
}

bool EntrySink::write(PendingFile& file, const char* data, qint64 size)
{
    if (file.write(data, size))
        return true;
    fileFailed(file, errno);
    return false;
}

void EntrySink::fileFailed(PendingFile& file, int error)
{
    const QStringList path = file.path();
    m_destination->discardFile(file);
    const bool full = error == ENOSPC || error == EDQUOT;
    fail(path.join(u'/') + QStringLiteral(": write error: ") + QString::fromLocal8Bit(std::strerror(error)),
        full ? Outcome::Status::NoSpace : Outcome::Status::Failed);
}

bool EntrySink::hasFailed() const
{
    const std::lock_guard lock(m_resultMutex);
    return !m_result.ok();
}

void EntrySink::fail(const QString& message, Outcome::Status status)
{
    qCWarning(m_log, "%s", qUtf8Printable(message));
    const std::lock_guard lock(m_resultMutex);
    bool passwordWrong = status == Outcome::Status::WrongPassword || status == Outcome::Status::WrongPasswordOrDamage;
    if (passwordWrong && m_passwordConfirmed) {
        // Another entry decoded with this password: this one is damaged.
        status = Outcome::Status::Failed;
        passwordWrong = false;
    }
    if (m_result.ok() || (passwordWrong && m_result.status != Outcome::Status::Cancelled))
        m_result = { .status = status, .message = message };
    if (status == Outcome::Status::NoSpace)
        m_diskFull = true;
}

void EntrySink::passwordConfirmed()
{
    const std::lock_guard lock(m_resultMutex);
    if (m_passwordConfirmed)
        return;
    m_passwordConfirmed = true;
    if (m_result.status == Outcome::Status::WrongPassword || m_result.status == Outcome::Status::WrongPasswordOrDamage)
        m_result.status = Outcome::Status::Failed;
    if (m_destination)
        m_destination->forgetMade();
}

Outcome EntrySink::finish(const ExtractProgress& progress)
{
    if (m_destination && m_destination->isOpen()) {
        const bool passwordWrong = m_result.status == Outcome::Status::WrongPassword
            || m_result.status == Outcome::Status::WrongPasswordOrDamage;
        if (passwordWrong)
            m_destination->rollBack();
        else if (!m_destination->finish())
            fail(QStringLiteral("cannot set the folders' times and modes"));
    }
    if (m_result.ok() && progress)
        progress(1.0);
    return m_result;
}

namespace {

// A 64-bit hash of a path's first `depth` components, taken component by
// component so that no joined name is built.
std::size_t pathHash(const QStringList& path, qsizetype depth)
{
    std::size_t hash = 0;
    for (qsizetype i = 0; i < depth; ++i)
        hash = hash * 1000003u ^ qHash(path.at(i), 0x9e3779b9u);
    return hash;
}

} // namespace

void EntryOrder::add(const QStringList& path, bool folder)
{
    const qsizetype depth = path.size();
    if (depth == 0)
        return;
    for (qsizetype i = 1; i < depth; ++i)
        m_folders.push_back(pathHash(path, i));
    (folder ? m_folders : m_leaves).push_back(pathHash(path, depth));
}

bool EntryOrder::matters()
{
    std::sort(m_leaves.begin(), m_leaves.end());
    if (std::adjacent_find(m_leaves.begin(), m_leaves.end()) != m_leaves.end())
        return true;
    std::sort(m_folders.begin(), m_folders.end());
    m_folders.erase(std::unique(m_folders.begin(), m_folders.end()), m_folders.end());
    std::vector<std::size_t> both;
    std::set_intersection(
        m_leaves.begin(), m_leaves.end(), m_folders.begin(), m_folders.end(), std::back_inserter(both));
    return !both.empty();
}
