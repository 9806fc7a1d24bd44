#include "ui/TavProgressHUD.h"

#include "platform/HUD.h"
#include "platform/MainQueue.h"
#include "ui/Styling.h"
#include "ui/WindowLookup.h"

#include <QApplication>
#include <QEvent>
#include <QGraphicsDropShadowEffect>
#include <QImage>
#include <QLabel>
#include <QPainter>
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
// Room around the panel for its shadow; part of the toast's input mask.
constexpr int kShadowMargin = 16;

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
    if (s_current)
        s_current->setStatus(iconName, text);
    // The timer removes whatever toast is current when it fires, so an earlier
    // toast's timer also ends a later one. It ends with the toast's window, so
    // that closing a window never cuts short a toast shown in another one.
    QObject* context = s_current ? static_cast<QObject*>(s_current->window()) : qApp;
    QTimer::singleShot(kLifetimeMsecs, context, &TavProgressHUD::dismiss);
}

void TavProgressHUD::create()
{
    dismiss();
    QWidget* content = WindowLookup::contentWidget(WindowLookup::mainWindow());
    if (!content)
        return;
    s_current = new TavProgressHUD(content);
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

TavProgressHUD::TavProgressHUD(QWidget* content)
    : QWidget(content)
{
    setObjectName(QStringLiteral("TavProgressHUD"));
    setFocusPolicy(Qt::NoFocus);
    setGeometry(content->rect());
    content->installEventFilter(this);

    m_hudView = new QWidget(this);
    m_hudView->setObjectName(QStringLiteral("hudView"));
    m_hudView->setFocusPolicy(Qt::NoFocus);
    setBackgroundColor(m_hudView, hexStr(QStringLiteral("f7f7f7")));
    setCornerRadius(m_hudView, 10.0);
    auto* shadow = new QGraphicsDropShadowEffect(m_hudView);
    shadow->setBlurRadius(24);
    shadow->setOffset(0, 3);
    shadow->setColor(QColor(0, 0, 0, 56));
    m_hudView->setGraphicsEffect(shadow);

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
    if (watched == parentWidget() && event->type() == QEvent::Resize) {
        setGeometry(parentWidget()->rect());
        layoutPanel();
    }
    return QWidget::eventFilter(watched, event);
}

void TavProgressHUD::layoutPanel()
{
    // One line wide enough for the message, between the minimum and the
    // maximum width and never wider than the content; longer messages wrap.
    const int textWidth = m_titleLabel->fontMetrics().horizontalAdvance(m_titleLabel->text());
    const int available = std::max(120, std::min(kMaxPanelWidth, width() - 2 * kShadowMargin));
    const int panelWidth = std::min(std::max(kMinPanelWidth, textWidth + 2 * kPanelPadding + 4), available);
    const int panelHeight = std::max(kMinPanelHeight, m_hudView->layout()->totalHeightForWidth(panelWidth));
    const QRect panel((width() - panelWidth) / 2, (height() - panelHeight) / 2, panelWidth, panelHeight);
    m_hudView->setGeometry(panel);
    // Only the panel takes the mouse; elsewhere clicks reach the content below.
    setMask(QRegion(panel.adjusted(-kShadowMargin, -kShadowMargin, kShadowMargin, kShadowMargin)));
}

void HudToastPresenter::route(const QString& iconName, const QString& text)
{
    if (!MainQueue::isMainThread()) {
        MainQueue::async([iconName, text] { route(iconName, text); });
        return;
    }
    TavProgressHUD::present(iconName, text);
}
