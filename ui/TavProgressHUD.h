#pragma once

#include <QPointer>
#include <QWidget>

class QLabel;
class ToastPresenter;

// The toast: a short status message with an icon, drawn in a panel centred
// over the content of the main window, removed after 1.5 seconds. At most one
// toast exists at a time. The toast never takes the focus, and clicks outside
// its panel reach the widgets under it.
class TavProgressHUD final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TavProgressHUD)

public:
    // Show a toast of each kind ("hud_info", "hud_success", "hud_error").
    // Callable from any thread; the work is queued on the main thread, also
    // when called there, so the caller returns first.
    static void showMessage(const QString& text);
    static void showSuccess(const QString& text);
    static void showError(const QString& text);

    // Main thread only. `create` replaces the current toast by a fresh one
    // covering the content of `WindowLookup::mainWindow()`; with no window
    // there is no toast afterwards. `dismiss` removes the current toast, if any.
    static void create();
    static void dismiss();
    static TavProgressHUD* current();
    // Shows a toast with the named icon at once, then starts its 1.5-second
    // timer. Main thread only; the three operations above queue onto it.
    static void present(const QString& iconName, const QString& text);

    // Installs the toast as the presenter behind `HUD`; main thread only.
    static void installAsPresenter();
    static ToastPresenter& presenter();

    // An icon of the bundle ("hud_info" …) drawn for `logicalSize` at `dpr`.
    static QPixmap icon(const QString& name, QSize logicalSize, qreal dpr);

    ~TavProgressHUD() override;

    QWidget* hudView() const { return m_hudView; }
    QLabel* titleLabel() const { return m_titleLabel; }
    QLabel* tagImageView() const { return m_tagImageView; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit TavProgressHUD(QWidget* content);

    void setStatus(const QString& iconName, const QString& text);
    void layoutPanel();

    QWidget* m_hudView = nullptr;
    QLabel* m_titleLabel = nullptr;
    QLabel* m_tagImageView = nullptr;

    static QPointer<TavProgressHUD> s_current;
};
