#include "screens/EntryOpener.h"

#include "engine/ExtractionJob.h"
#include "engine/NotifyManager.h"
#include "engine/ZipManager.h"
#include "platform/Bundle.h"
#include "platform/Folders.h"
#include "platform/HUD.h"
#include "platform/Logging.h"
#include "platform/NotificationCenter.h"
#include "platform/Workspace.h"
#include "screens/PreviewFolder.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Read-only, so that an application saving the file learns it is a copy
// that goes away; only a regular file, never through a link.
bool makeReadOnly(const QString& file)
{
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st { };
    const bool done = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::fchmod(fd, 0444) == 0;
    ::close(fd);
    return done;
}

void removeFolder(const QString& folder)
{
    const QFileInfo info(folder);
    const int parent = ::open(QFile::encodeName(info.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parent < 0)
        return;
    Folders::removeTree(parent, QFile::encodeName(info.fileName()).constData());
    ::close(parent);
}

} // namespace

EntryOpener::EntryOpener(QObject* parent)
    : QObject(parent)
{
    // The engine posts a job's end on the main thread.
    NotificationCenter::defaultCenter().addObserver(
        NotifyManager::JobDidEnd(), this, [this](const Notification& notification) { onJobEnd(notification); });
}

EntryOpener::~EntryOpener() = default;

QString EntryOpener::jobKey(const QString& archive)
{
    const QFileInfo info(archive);
    return info.path() + QStringLiteral("/./") + info.fileName();
}

void EntryOpener::open(
    const QString& archive, qsizetype entries, qsizetype entry, const std::optional<QString>& password)
{
    if (entry < 0 || entry >= entries)
        return;
    m_waiting.push_back({ archive, entries, entry, password, QString() });
    if (!m_running)
        startNext();
}

void EntryOpener::startNext()
{
    while (!m_running && !m_waiting.empty()) {
        Request request = std::move(m_waiting.front());
        m_waiting.pop_front();
        request.folder = PreviewFolder::makeEntryFolder();
        if (request.folder.isEmpty()) {
            HUD::showErrorWithStatus(L(QStringLiteral("无法打开该文件")));
            emit failed();
            continue;
        }
        ExtractOptions options;
        options.selection.emplace(static_cast<std::size_t>(request.entries), false);
        (*options.selection)[static_cast<std::size_t>(request.entry)] = true;
        options.password = request.password;
        options.quiet = true; // the opener tells how it went
        m_running = request;
        ZipManager::shared().extract(jobKey(request.archive), request.folder, options);
    }
}

QString EntryOpener::extractedFile(const QString& folder)
{
    // The folder is new and holds this one entry, under whatever name the
    // extraction gave it.
    QDirIterator walk(folder, QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    QStringList files;
    while (walk.hasNext() && files.size() < 2)
        files.append(walk.next());
    return files.size() == 1 ? files.first() : QString();
}

void EntryOpener::onJobEnd(const Notification& notification)
{
    if (!m_running || notification.object.value(NotifyManager::pathKey()).toString() != jobKey(m_running->archive))
        return;
    const Request done = *m_running;
    m_running.reset();
    const QString status = notification.object.value(NotifyManager::statusKey()).toString();
    const QString file
        = notification.object.value(NotifyManager::succeededKey()).toBool() ? extractedFile(done.folder) : QString();
    if (!file.isEmpty() && makeReadOnly(file)) {
        qCInfo(lcUi, "opening entry %lld of %s as %s", static_cast<long long>(done.entry), qUtf8Printable(done.archive),
            qUtf8Printable(file));
        // Without a handler for its type the file stays in the private folder
        // until the program quits; the user is told, not left waiting.
        if (!Workspace::shared().openUrl(QUrl::fromLocalFile(file)))
            HUD::showErrorWithStatus(L(QStringLiteral("无法打开该文件")));
        emit opened(file);
    } else {
        // A failed job has had its toast from the engine; a success without
        // the file (an entry that cannot be placed) needs one of its own.
        if (notification.object.value(NotifyManager::succeededKey()).toBool())
            HUD::showErrorWithStatus(L(QStringLiteral("无法打开该文件")));
        qCWarning(lcUi, "entry %lld of %s not opened: %s", static_cast<long long>(done.entry),
            qUtf8Printable(done.archive), qUtf8Printable(status));
        removeFolder(done.folder);
        emit failed();
    }
    startNext();
}
