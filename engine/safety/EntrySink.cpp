#include "engine/safety/EntrySink.h"

#include "engine/safety/EntryNames.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <sys/stat.h>

namespace {

bool passwordFailed(Outcome::Status status)
{
    return status == Outcome::Status::WrongPassword || status == Outcome::Status::WrongPasswordOrDamage
        || status == Outcome::Status::PasswordUnconfirmed;
}

// Failures that leave nothing of the job: a password that did not prove
// right, and an unsafe name that a reader reading in one pass (a tar) met
// after it had placed entries.
bool rollsBack(Outcome::Status status)
{
    return passwordFailed(status) || status == Outcome::Status::Unsafe;
}

} // namespace

EntrySink::EntrySink(QString folder, LogCategory log, StopToken stop)
    : m_folder(std::move(folder))
    , m_log(log)
    , m_stop(std::move(stop))
{
}

std::optional<QStringList> EntrySink::admit(const QString& name)
{
    std::optional<QStringList> path = EntryNames::split(name);
    if (!path)
        fail(QStringLiteral("refused: unsafe entry name ") + name, Outcome::Status::Unsafe);
    return path;
}

bool EntrySink::open(bool undoable)
{
    // A refused archive must not even create the destination.
    if (hasFailed())
        return false;
    m_destination.emplace(m_folder, undoable);
    if (!m_destination->isOpen()) {
        fail(m_destination->openFailure());
        return false;
    }
    const Outcome claimed = m_destination->claim([this] { return m_stop.requested(); });
    if (!claimed.ok())
        fail(claimed);
    return !hasFailed();
}

bool EntrySink::stopRequested()
{
    if (m_halt)
        return true;
    if (!m_stop.requested())
        return false;
    fail(QStringLiteral("stopped"), Outcome::Status::Cancelled);
    return true;
}

bool EntrySink::placed(const Outcome& outcome)
{
    // Progress is work done: a failed entry does not move it.
    if (!outcome.isFailure())
        m_progress.entryDone();
    if (outcome.ok()) {
        ++m_written;
    } else if (outcome.status == Outcome::Status::Kept) {
        if (m_kept.fetch_add(1) < kKeptNamesKept && !outcome.message.isEmpty()) {
            const std::lock_guard lock(m_resultMutex);
            m_keptNames.append(outcome.message);
        }
    } else if (outcome.isFailure()) {
        fail(outcome);
    }
    return outcome.ok();
}

bool EntrySink::folder(const QStringList& path, const EntryMeta& meta)
{
    const Outcome made = m_destination->makeDirectory(path, meta);
    // A folder that was there already is filled, not kept instead of written.
    if (made.status == Outcome::Status::Kept) {
        m_progress.entryDone();
        return false;
    }
    return placed(made);
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

bool EntrySink::moveFolderIn(int fromDirFd, const QByteArray& fromName, const QStringList& path,
    const std::vector<std::pair<QStringList, EntryMeta>>& folders)
{
    const Outcome moved = m_destination->moveCheckedFolderIn(fromDirFd, fromName, path, folders);
    if (moved.isFailure())
        fail(moved);
    return moved.ok();
}

bool EntrySink::beginFile(const QStringList& path, PendingFile& file, const EntryMeta& meta)
{
    const Outcome begun = m_destination->beginFile(path, file, meta);
    return begun.ok() || placed(begun);
}

bool EntrySink::commitFile(PendingFile& file, const EntryMeta& meta)
{
    return placed(m_destination->commitFile(file, meta));
}

bool EntrySink::write(PendingFile& file, const char* data, qint64 size)
{
    if (file.write(data, size)) {
        m_progress.addBytes(size);
        return true;
    }
    fileFailed(file, errno);
    return false;
}

void EntrySink::fileFailed(PendingFile& file, int error)
{
    const QStringList path = file.path();
    discard(file);
    const bool full = error == ENOSPC || error == EDQUOT;
    fail(path.join(u'/') + QStringLiteral(": write error: ") + QString::fromLocal8Bit(std::strerror(error)),
        full ? Outcome::Status::NoSpace : Outcome::Status::Failed);
}

void EntrySink::discard(PendingFile& file)
{
    m_destination->discardFile(file);
}

bool EntrySink::keepIfTaken(const QStringList& path)
{
    if (!m_destination->isTaken(path))
        return false;
    qCInfo(m_log, "kept existing %s", qUtf8Printable(path.join(u'/')));
    placed({ .status = Outcome::Status::Kept, .message = path.join(u'/') });
    return true;
}

bool EntrySink::isDestination(int fd) const
{
    struct stat mine;
    struct stat other;
    return m_destination && m_destination->isOpen() && ::fstat(m_destination->rootFd(), &mine) == 0
        && ::fstat(fd, &other) == 0 && mine.st_dev == other.st_dev && mine.st_ino == other.st_ino;
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
    bool passwordWrong = passwordFailed(status);
    if (passwordWrong && m_passwordConfirmed) {
        // Another entry decoded with this password: this one is damaged.
        status = Outcome::Status::Damaged;
        passwordWrong = false;
    }
    if (m_result.ok() || (passwordWrong && m_result.status != Outcome::Status::Cancelled))
        m_result = { .status = status, .message = message };
    if (status == Outcome::Status::NoSpace)
        m_halt = true;
}

void EntrySink::passwordConfirmed()
{
    if (m_passwordConfirmed.exchange(true))
        return;
    const std::lock_guard lock(m_resultMutex);
    if (passwordFailed(m_result.status))
        m_result.status = Outcome::Status::Damaged;
    if (m_destination)
        m_destination->forgetMade();
}

void EntrySink::passwordRefused(const QString& message)
{
    if (m_passwordConfirmed) {
        fail(message, Outcome::Status::Damaged);
        return;
    }
    fail(message, Outcome::Status::WrongPassword);
    m_halt = true;
}

void EntrySink::encryptedEntryFailed(const QString& message)
{
    if (!m_passwordConfirmed)
        m_passwordInDoubt = true;
    fail(message, Outcome::Status::Damaged);
}

QStringList EntrySink::keptNames() const
{
    const std::lock_guard lock(m_resultMutex);
    return m_keptNames;
}

Outcome EntrySink::finish()
{
    if (m_passwordInDoubt && !m_passwordConfirmed)
        fail(QStringLiteral("no encrypted entry decoded right"), Outcome::Status::WrongPasswordOrDamage);
    if (m_destination && m_destination->isOpen()) {
        if (rollsBack(m_result.status))
            m_destination->rollBack();
        else if (!m_destination->finish())
            fail(QStringLiteral("cannot set the folders' times and modes"));
    }
    if (m_result.ok())
        m_progress.finish();
    else if (m_destination)
        m_destination->removeIfMadeAndEmpty();
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
