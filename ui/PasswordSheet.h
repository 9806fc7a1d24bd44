#pragma once

#include <QDialog>

class QLineEdit;

// The password sheet: the application's icon, the request's message in
// bold, the archive's file name (when there is one), a plain line edit
// ("passwordLineEdit") and the buttons "确定" (default) and "取消". The
// typed password stays visible. Main thread only.
class PasswordSheet final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PasswordSheet)

public:
    PasswordSheet(const QString& message, const QString& archivePath, QWidget* parent);

    // What was typed; an empty field is an empty password, never a null one.
    QString password() const;

private:
    QLineEdit* m_lineEdit = nullptr;
};
