#include "ui/TavProgressHUD.h"

#include "platform/HUD.h"
#include "platform/MainQueue.h"
#include "ui/Styling.h"
#include "ui/WindowLookup.h"

#include <QApplication>
#include <QEvent>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QSvgRenderer>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

namespace {

constexpr int kLifetimeMsecs = 1500;
constexpr int kMinPanelWidth = 220;
constexpr int kMaxPanelWidth = 400;
constexpr int kMinPanelHeight = 120;
constexpr int kPanelPadding = 24;
constexpr int kIconSize = 40;
// The least room between the panel and the edges of the owner's content.
constexpr int kContentMargin = 16;
constexpr double kCornerRadius = 10.0;

// X servers show see-through windows only under a compositing manager, and
// black elsewhere; there the panel's corners are cut off with a window shape.
bool cutsCorners()
{
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

const QString kInfoIcon = QStringLiteral("hud_info");
const QString kSuccessIcon = QStringLiteral("hud_success");
const QString kErrorIcon = QStringLiteral("hud_error");

class HudToastPresenter final : public ToastPresenter {
public:
    // HUD calls in on the main thread; anything else goes through the queue.
    void showMessage(const QString& text) override { route(kInfoIcon, text); }
    void showSuccess(const QString& text) override { route(kSuccessIcon, text); }
    void showError(const QString& text) override { route(kErrorIcon, text); }

private:
    static void route(const QString& iconName, const QString& text);
};

} // namespace

QPointer<TavProgressHUD> TavProgressHUD::s_current;

void TavProgressHUD::showMessage(const QString& text)
{
    MainQueue::async([text] { present(kInfoIcon, text); });
}

void TavProgressHUD::showSuccess(const QString& text)
{
    MainQueue::async([text] { present(kSuccessIcon, text); });
}

void TavProgressHUD::showError(const QString& text)
{
    MainQueue::async([text] { present(kErrorIcon, text); });
}

void TavProgressHUD::present(const QString& iconName, const QString& text)
{
    create();
    TavProgressHUD* toast = s_current.data();
    if (toast)
        toast->setStatus(iconName, text);
    // The timer removes whatever toast is current when it fires, so an earlier
    // toast's timer also ends a later one. It ends with the toast's owner, so
    // that closing a window never cuts short a toast shown over another one.
    QObject* context = toast ? static_cast<QObject*>(toast->owner()) : qApp;
    QTimer::singleShot(kLifetimeMsecs, context, &TavProgressHUD::dismiss);
}

void TavProgressHUD::create()
{
    dismiss();
    QWidget* owner = WindowLookup::mainWindow();
    if (!owner)
        return;
    s_current = new TavProgressHUD(owner);
    s_current->show();
    s_current->raise();
}

void TavProgressHUD::dismiss()
{
    if (!s_current)
        return;
    TavProgressHUD* toast = s_current;
    s_current = nullptr;
    toast->hide();
    toast->deleteLater();
}

TavProgressHUD* TavProgressHUD::current()
{
    return s_current;
}

ToastPresenter& TavProgressHUD::presenter()
{
    static HudToastPresenter instance;
    return instance;
}

void TavProgressHUD::installAsPresenter()
{
    HUD::setPresenter(&presenter());
}

QPixmap TavProgressHUD::icon(const QString& name, QSize logicalSize, qreal dpr)
{
    QSvgRenderer renderer(QStringLiteral(":/icons/%1.svg").arg(name));
    if (!renderer.isValid())
        return {};
    // Drawn at the device's resolution so that the icon stays sharp on HiDPI screens.
    QImage image(logicalSize * dpr, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    image.setDevicePixelRatio(dpr);
    return QPixmap::fromImage(image);
}

TavProgressHUD::TavProgressHUD(QWidget* owner)
    // A tool tip's window: above the owner's sheets and modal windows on
    // every desktop (placed relative to the owner where windows cannot place
    // themselves), never activated, never given a frame.
    : QWidget(
        owner, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput)
    , m_content(WindowLookup::contentWidget(owner))
{
    setObjectName(QStringLiteral("TavProgressHUD"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    if (cutsCorners()) {
        // Under the panel's antialiased edge lies its own colour, not black.
        setAutoFillBackground(true);
        QPalette palette = this->palette();
        palette.setColor(QPalette::Window, *Styling::hexStr(QStringLiteral("f7f7f7")));
        setPalette(palette);
    } else {
        setAttribute(Qt::WA_TranslucentBackground); // the panel's rounded corners
    }
    setFocusPolicy(Qt::NoFocus);
    owner->installEventFilter(this);
    if (m_content != owner)
        m_content->installEventFilter(this);
    // A window shown later (a sheet asking again) would cover the toast.
    qApp->installEventFilter(this);

    m_hudView = new QWidget(this);
    m_hudView->setObjectName(QStringLiteral("hudView"));
    m_hudView->setFocusPolicy(Qt::NoFocus);
    Styling::setBackgroundColor(m_hudView, Styling::hexStr(QStringLiteral("f7f7f7")));
    Styling::setCornerRadius(m_hudView, kCornerRadius);
    // Over white content or a white sheet the edge carries the panel.
    Styling::setBorderWidth(m_hudView, 1.0);
    Styling::setBorderColor(m_hudView, Styling::hexStr(QStringLiteral("DCDDE3")));

    m_tagImageView = new QLabel(m_hudView);
    m_tagImageView->setObjectName(QStringLiteral("tagImageView"));
    m_tagImageView->setFixedSize(kIconSize, kIconSize);
    m_tagImageView->setAlignment(Qt::AlignCenter);

    m_titleLabel = new QLabel(m_hudView);
    m_titleLabel->setObjectName(QStringLiteral("titleLabel"));
    m_titleLabel->setTextFormat(Qt::PlainText); // file names may hold markup characters
    m_titleLabel->setAlignment(Qt::AlignCenter);
    m_titleLabel->setWordWrap(true);
    QFont font = m_titleLabel->font();
    font.setPixelSize(15);
    m_titleLabel->setFont(font);
    QPalette palette = m_titleLabel->palette();
    palette.setColor(QPalette::WindowText, Palette::text1());
    m_titleLabel->setPalette(palette);

    // Children stay inside the panel's padding, clear of its rounded corners,
    // so the panel's rectangular clip is all the clipping they need.
    auto* layout = new QVBoxLayout(m_hudView);
    layout->setContentsMargins(kPanelPadding, 22, kPanelPadding, 20);
    layout->setSpacing(12);
    layout->addWidget(m_tagImageView, 0, Qt::AlignHCenter);
    layout->addWidget(m_titleLabel);
    layoutPanel();
}

TavProgressHUD::~TavProgressHUD() = default;

void TavProgressHUD::setStatus(const QString& iconName, const QString& text)
{
    m_titleLabel->setText(text);
    m_tagImageView->setProperty("iconName", iconName);
    m_tagImageView->setPixmap(icon(iconName, QSize(kIconSize, kIconSize), devicePixelRatioF()));
    layoutPanel();
}

bool TavProgressHUD::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (watched == owner() || watched == m_content) {
        if (type == QEvent::Move || type == QEvent::Resize || type == QEvent::WindowStateChange)
            layoutPanel();
        else if (type == QEvent::Hide && watched == owner() && s_current == this)
            dismiss();
    } else if (watched != this && (type == QEvent::Show || type == QEvent::WindowActivate) && watched->isWidgetType()
        && static_cast<QWidget*>(watched)->isWindow()) {
        raiseLater();
    }
    return QWidget::eventFilter(watched, event);
}

void TavProgressHUD::raiseLater()
{
    // After the window manager has placed the other window, which the toast
    // may now have to make room for.
    QTimer::singleShot(0, this, [this] {
        if (!isVisible())
            return;
        layoutPanel();
        raise();
    });
}

QList<QRect> TavProgressHUD::coveredControls() const
{
    // The sheets and dialogs up over the owner hold what the user needs now:
    // a progress bar and its button, a password field.
    QList<QRect> areas;
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (const QWidget* window : windows) {
        if (window == this || window == owner() || !window->isVisible() || window->windowType() != Qt::Dialog)
            continue;
        // A password sheet may stand over a sheet that stands over the owner.
        for (const QWidget* up = window->parentWidget(); up; up = up->window()->parentWidget()) {
            if (up->window() == owner()) {
                areas.append(window->frameGeometry());
                break;
            }
        }
    }
    return areas;
}

QRect TavProgressHUD::placement(QRect panel, const QRect& content, const QList<QRect>& covered)
{
    const auto clear = [&covered](const QRect& rect) {
        for (const QRect& area : covered) {
            if (rect.intersects(area))
                return false;
        }
        return true;
    };
    if (clear(panel))
        return panel;
    // Below the lowest sheet it meets, else above the highest, centred on
    // the content; a toast is a window of its own and may leave the content.
    int below = panel.top();
    int above = panel.bottom();
    for (const QRect& area : covered) {
        below = std::max(below, area.bottom() + 1 + kContentMargin);
        above = std::min(above, area.top() - 1 - kContentMargin);
    }
    QRect under = panel;
    under.moveTop(below);
    QRect over = panel;
    over.moveBottom(above);
    // The room left inside the content decides between the two.
    const int roomUnder = content.bottom() - under.bottom();
    const int roomOver = over.top() - content.top();
    return roomUnder >= roomOver ? under : over;
}

void TavProgressHUD::layoutPanel()
{
    const QWidget* content = m_content.data();
    if (!content)
        return;
    // One line wide enough for the message, between the minimum and the
    // maximum width and never wider than the content; longer messages wrap.
    const int textWidth = m_titleLabel->fontMetrics().horizontalAdvance(m_titleLabel->text());
    const int available = std::max(120, std::min(kMaxPanelWidth, content->width() - 2 * kContentMargin));
    const int panelWidth = std::min(std::max(kMinPanelWidth, textWidth + 2 * kPanelPadding + 4), available);
    const int panelHeight = std::max(kMinPanelHeight, m_hudView->layout()->totalHeightForWidth(panelWidth));
    const QPoint centre = content->mapToGlobal(content->rect().center());
    const QRect centred(centre.x() - panelWidth / 2, centre.y() - panelHeight / 2, panelWidth, panelHeight);
    setGeometry(placement(centred, QRect(content->mapToGlobal(QPoint(0, 0)), content->size()), coveredControls()));
    m_hudView->setGeometry(rect());
    if (cutsCorners()) {
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), kCornerRadius, kCornerRadius);
        setMask(QRegion(shape.toFillPolygon().toPolygon()));
    }
}

void HudToastPresenter::route(const QString& iconName, const QString& text)
{
    if (!MainQueue::isMainThread()) {
        MainQueue::async([iconName, text] { route(iconName, text); });
        return;
    }
    TavProgressHUD::present(iconName, text);
}
