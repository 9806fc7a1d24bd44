#pragma once

#include <QPointer>
#include <QWidget>

class QLabel;
class ToastPresenter;

// The toast: a short status message with an icon, in a small frameless
// window of its own centred over the content of the window the user works in
// (its owner), removed after 1.5 seconds. Being a window, it shows above the
// owner's sheets and modal windows, which would hide a toast drawn inside the
// owner; it follows the owner's moves and goes with it. It never covers a
// sheet or dialog of the owner (whose controls the user needs while the
// toast is up): it moves below or above them. At most one toast exists at a
// time. It never takes the focus, and clicks pass through it.
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
    // owned by `WindowLookup::mainWindow()`; with no window there is no toast
    // afterwards. `dismiss` removes the current toast, if any.
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
    // Where a toast centred at `panel` goes so that it meets none of the
    // `covered` areas: as it is, or just below (or above) them, whichever
    // leaves it more inside `content`. Screen coordinates.
    static QRect placement(QRect panel, const QRect& content, const QList<QRect>& covered);

    ~TavProgressHUD() override;

    // The window the toast belongs to and is centred over.
    QWidget* owner() const { return parentWidget(); }
    QWidget* hudView() const { return m_hudView; }
    QLabel* titleLabel() const { return m_titleLabel; }
    QLabel* tagImageView() const { return m_tagImageView; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit TavProgressHUD(QWidget* owner);

    void setStatus(const QString& iconName, const QString& text);
    // Sizes the panel to its text and centres the toast over the owner's content.
    void layoutPanel();
    void raiseLater();
    // The frames of the owner's sheets and dialogs on screen.
    QList<QRect> coveredControls() const;

    QPointer<QWidget> m_content;

    QWidget* m_hudView = nullptr;
    QLabel* m_titleLabel = nullptr;
    QLabel* m_tagImageView = nullptr;

    static QPointer<TavProgressHUD> s_current;
};
