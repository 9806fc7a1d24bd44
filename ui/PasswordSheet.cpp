#include "ui/PasswordSheet.h"

#include "platform/Bundle.h"
#include "ui/Styling.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

PasswordSheet::PasswordSheet(const QString& message, const QString& archivePath, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QGuiApplication::applicationDisplayName());

    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(20, 20, 20, 16);
    layout->setHorizontalSpacing(16);
    layout->setVerticalSpacing(10);

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
    m_lineEdit->setMinimumSize(200, 24);
    layout->addWidget(m_lineEdit, 2, 1);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(L(QStringLiteral("确定")), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    QPushButton* cancel = buttons->addButton(L(QStringLiteral("取消")), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons, 3, 0, 1, 2);
    m_lineEdit->setFocus();
}

QString PasswordSheet::password() const
{
    const QString text = m_lineEdit->text();
    return text.isNull() ? QStringLiteral("") : text;
}
