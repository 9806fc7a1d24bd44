// The compression sheet with its custom panel open, over the stand-in home
// window.
#include "screens/ZipController.h"
#include "tools/screenshots/Shots.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>

namespace {

// The sheet for two items with "自定义" chosen and `format` in its menu.
ZipController* customSheet(QWidget* window, const QString& format)
{
    ZipController* sheet = ZipController::initFromStory(window);
    const QString documents = QDir::homePath() + QStringLiteral("/Documents/");
    sheet->setFileUrls({ QUrl::fromLocalFile(documents + QStringLiteral("report.pdf")),
        QUrl::fromLocalFile(documents + QStringLiteral("photos")) });
    sheet->presentAsSheet(window);
    sheet->findChild<QAbstractButton*>(QStringLiteral("customBtn"))->click();
    auto* formats = sheet->findChild<QComboBox*>(QStringLiteral("formatMenu"));
    formats->setCurrentIndex(formats->findText(format));
    return sheet;
}

QWidget* zipCustomSheet(QWidget* window)
{
    return customSheet(window, QStringLiteral("7z"));
}

// A password asked for with a tar format: the sheet says why it cannot be.
QWidget* zipCustomTarPassword(QWidget* window)
{
    ZipController* sheet = customSheet(window, QStringLiteral("tar.zst"));
    sheet->findChild<QAbstractButton*>(QStringLiteral("addPasswordBtn"))->click();
    sheet->findChild<QLineEdit*>(QStringLiteral("passwordTf"))->setText(QStringLiteral("secret"));
    return sheet;
}

} // namespace

ZAVRIN_SHOT("zip-sheet-custom", zipCustomSheet)
ZAVRIN_SHOT("zip-sheet-custom-tar-password", zipCustomTarPassword)
