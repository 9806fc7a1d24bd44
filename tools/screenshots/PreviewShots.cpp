// The extraction sheet with the archive's contents shown: folders open, one
// unticked, an encrypted entry with its lock.
#include "engine/ArchiveListing.h"
#include "platform/Defaults.h"
#include "screens/ArchivePreview.h"
#include "screens/ArchiveTreeModel.h"
#include "screens/UnzipController.h"
#include "tools/screenshots/Shots.h"

#include <QCheckBox>
#include <QDir>
#include <QTreeView>

namespace {

std::shared_ptr<const ArchiveListing> photosListing()
{
    struct Sample {
        const char* path;
        ArchiveEntry::Kind kind;
        qint64 size;
        qint64 packed;
        bool encrypted;
    };
    const Sample samples[] = {
        { "Photos/2024/IMG_0001.jpg", ArchiveEntry::Kind::File, 2431822, 2398105, false },
        { "Photos/2024/IMG_0002.jpg", ArchiveEntry::Kind::File, 3105440, 3080321, false },
        { "Photos/2024/春节/全家福（原图，请勿外传）.jpg", ArchiveEntry::Kind::File, 5208112, 5190034, false },
        { "Photos/2025/IMG_0101.heic", ArchiveEntry::Kind::File, 1874003, 1870220, false },
        { "Documents/", ArchiveEntry::Kind::Folder, 0, 0, false },
        { "Documents/2026 年度财务报表与审计材料 - Annual statements.xlsx", ArchiveEntry::Kind::File, 482113, 120530,
            true },
        { "Documents/notes.txt", ArchiveEntry::Kind::File, 12044, 4120, false },
        { "README.txt", ArchiveEntry::Kind::File, 1203, 640, false },
    };
    auto listing = std::make_shared<ArchiveListing>();
    qint64 time = 1767225600; // 2026-01-01
    for (const Sample& sample : samples) {
        ArchiveEntry entry;
        entry.path = QString::fromUtf8(sample.path);
        entry.kind = sample.kind;
        entry.size = sample.size;
        entry.packedSize = sample.packed;
        entry.encrypted = sample.encrypted;
        entry.mtime = timespec { static_cast<time_t>(time), 0 };
        time += 86400 * 37 + 3600 * 5;
        listing->append(entry);
    }
    return listing;
}

QWidget* unzipPreview(QWidget* window)
{
    UnzipController* sheet = UnzipController::initFromStory(window);
    const QString archive = QDir::homePath() + QStringLiteral("/Documents/photos.zip");
    sheet->setFileUrl(QUrl::fromLocalFile(archive));
    sheet->presentAsSheet(window);
    // The listing stands for what the archive would hold; ticking the box
    // then shows it instead of reading the (missing) archive.
    sheet->preview()->showListing(archive, photosListing());
    sheet->findChild<QCheckBox*>(QStringLiteral("previewCheck"))->setChecked(true);
    Defaults::standard().remove(UnzipController::previewCheckKey());
    auto* tree = sheet->findChild<QTreeView*>(QStringLiteral("previewTree"));
    tree->expandAll();
    ArchiveTreeModel* model = sheet->preview()->model();
    const QModelIndex photos = model->index(1, 0);
    model->setData(model->index(1, 0, photos), Qt::Unchecked, Qt::CheckStateRole); // Photos/2025
    tree->setCurrentIndex(model->index(0, 0, model->index(0, 0, photos)));
    return sheet;
}

} // namespace

ZAVRIN_SHOT("unzip-sheet-preview", unzipPreview)
