#include "engine/safety/UndoLog.h"

#include "engine/safety/EntryNames.h"
#include "engine/safety/OpenFolders.h"
#include "platform/Logging.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

void UndoLog::noteMade(const QStringList& path, bool folder)
{
    if (m_recording)
        m_made.emplace_back(path.join(u'/'), folder);
}

void UndoLog::forget()
{
    m_recording = false;
    std::vector<std::pair<QString, bool>>().swap(m_made);
}

void UndoLog::rollBack(OpenFolders& folders)
{
    for (auto it = m_made.crbegin(); it != m_made.crend(); ++it) {
        const QStringList path = it->first.split(u'/');
        const bool folder = it->second;
        Outcome result;
        const int parent = folders.folder(path.mid(0, path.size() - 1), false, &result);
        const QByteArray name = EntryNames::fsName(path.last());
        if (parent >= 0 && ::unlinkat(parent, name.constData(), folder ? AT_REMOVEDIR : 0) == 0)
            continue;
        if (!folder || errno != ENOTEMPTY)
            qCWarning(lcEngine, "cannot remove %s: %s", qUtf8Printable(it->first), std::strerror(errno));
    }
    m_made.clear();
    folders.closeAll();
}
