#include "screens/ItemSummary.h"

#include "platform/Bundle.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QLocale>

namespace ItemSummary {

QString title(const QList<QUrl>& items)
{
    if (items.size() == 1)
        return items.first().adjusted(QUrl::StripTrailingSlash).fileName();
    return L(QStringLiteral("%1 个项目")).arg(items.size());
}

std::optional<qint64> totalSize(const QStringList& paths, const std::function<bool()>& stop)
{
    constexpr qint64 kMaxFiles = 1000000;
    qint64 total = 0;
    qint64 files = 0;
    bool found = false;
    for (const QString& path : paths) {
        const QFileInfo item(path);
        found = found || item.exists();
        // A chosen link is packed as what it points to; links inside are not.
        if (item.isFile()) {
            total += item.size();
            continue;
        }
        if (!item.isDir())
            continue;
        QDirIterator walk(
            path, QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (walk.hasNext()) {
            if (++files > kMaxFiles || (stop && stop()))
                return std::nullopt;
            const QFileInfo file = walk.nextFileInfo();
            if (!file.isSymLink())
                total += file.size();
        }
    }
    // Items that are not there have no size to tell.
    return found ? std::optional<qint64>(total) : std::nullopt;
}

QString formatSize(qint64 bytes)
{
    // Decimal units with one digit after the point, as file managers show
    // them; the unit symbols read the same in every language.
    if (bytes < 1000)
        return QStringLiteral("%1 B").arg(bytes);
    return QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat);
}

QString elided(const QString& text, const QFontMetrics& metrics, int width)
{
    return metrics.elidedText(text, Qt::ElideMiddle, width);
}

} // namespace ItemSummary
