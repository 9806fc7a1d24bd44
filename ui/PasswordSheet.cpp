#include "ui/PasswordSheet.h"

#include "platform/Bundle.h"
#include "ui/SheetStyle.h"
#include "ui/Styling.h"

#include <QApplication>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

PasswordSheet::PasswordSheet(const QString& message, const QString& archivePath, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QGuiApplication::applicationDisplayName());
    SheetStyle::styleSheetWindow(this);

    auto* layout = new QGridLayout(this);
    const int margin = SheetStyle::kMargin;
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->setHorizontalSpacing(SheetStyle::kColumnSpacing);
    layout->setVerticalSpacing(2 * SheetStyle::kGrid);

    auto* iconLabel = new QLabel(this);
    iconLabel->setObjectName(QStringLiteral("iconLabel"));
    iconLabel->setPixmap(QApplication::windowIcon().pixmap(QSize(48, 48), devicePixelRatioF()));
    layout->addWidget(iconLabel, 0, 0, 3, 1, Qt::AlignTop);

    auto* messageLabel = new QLabel(message, this);
    messageLabel->setObjectName(QStringLiteral("messageLabel"));
    messageLabel->setTextFormat(Qt::PlainText);
    messageLabel->setWordWrap(true);
    QFont bold = messageLabel->font();
    bold.setBold(true);
    messageLabel->setFont(bold);
    layout->addWidget(messageLabel, 0, 1);

    // Which archive asks, for when several jobs run at once.
    const QString archiveName = QFileInfo(archivePath).fileName();
    auto* archiveLabel = new QLabel(archiveName, this);
    archiveLabel->setObjectName(QStringLiteral("archiveLabel"));
    archiveLabel->setTextFormat(Qt::PlainText);
    archiveLabel->setVisible(!archiveName.isEmpty());
    QPalette secondary = archiveLabel->palette();
    secondary.setColor(QPalette::WindowText, Palette::text2());
    archiveLabel->setPalette(secondary);
    layout->addWidget(archiveLabel, 1, 1);

    m_lineEdit = new QLineEdit(this);
    m_lineEdit->setObjectName(QStringLiteral("passwordLineEdit"));
    m_lineEdit->setEchoMode(QLineEdit::Normal);
    m_lineEdit->setMinimumWidth(70 * SheetStyle::kGrid);
    SheetStyle::styleField(m_lineEdit);
    layout->addWidget(m_lineEdit, 2, 1);
    layout->setRowMinimumHeight(3, SheetStyle::kGrid);

    auto* ok = new QPushButton(L(QStringLiteral("确定")), this);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    SheetStyle::stylePrimaryButton(ok);
    auto* cancel = new QPushButton(L(QStringLiteral("取消")), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    SheetStyle::styleSecondaryButton(cancel);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    layout->addLayout(SheetStyle::buttonRow(cancel, ok), 4, 0, 1, 2);
    setTabOrder(m_lineEdit, cancel);
    setTabOrder(cancel, ok);
    m_lineEdit->setFocus();
}

QString PasswordSheet::password() const
{
    const QString text = m_lineEdit->text();
    return text.isNull() ? QStringLiteral("") : text;
}
