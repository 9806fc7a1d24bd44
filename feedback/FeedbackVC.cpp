#include "feedback/FeedbackVC.h"

#include "feedback/ApiManager.h"
#include "feedback/ChoiceView.h"
#include "platform/Bundle.h"
#include "platform/HUD.h"
#include "telemetry/TrackManager.h"
#include "ui/SheetStyle.h"
#include "ui/Styling.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kContentWidth = 420;

QColor chosenColor()
{
    return *Styling::hexStr(QStringLiteral("FF890C"));
}
QColor otherColor()
{
    return *Styling::hexStr(QStringLiteral("999999"));
}

QLabel* makeLabel(QWidget* parent, const char* objectName, int pixelSize, bool bold, const QColor& color)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(objectName));
    QFont font = label->font();
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    return label;
}

} // namespace

FeedbackVC* FeedbackVC::initFromStory()
{
    auto* screen = new FeedbackVC;
    screen->setObjectName(QStringLiteral("FeedbackVC"));
    return screen;
}

FeedbackVC::FeedbackVC()
{
    // Each opening has its own screen; a dismissed one is done for.
    connect(this, &ViewController::didDismiss, this, &QObject::deleteLater);
}

FeedbackVC::~FeedbackVC() = default;

void FeedbackVC::viewDidLoad()
{
    buildView();
    Styling::setBackgroundColor(this, Qt::white);
    Styling::setTitleColor(m_submitBtn, Qt::white);
    international();
}

void FeedbackVC::buildView()
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 24, 28, 24);
    layout->setSpacing(0);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    m_titleLab = makeLabel(this, "titleLabel", 15, true, Palette::text1());
    m_titleLab->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_titleLab);
    layout->addSpacing(14);

    auto* choices = new QHBoxLayout;
    choices->setSpacing(16);
    m_goodView = new ChoiceView(ChoiceView::Mood::Satisfied, this);
    m_goodView->setObjectName(QStringLiteral("goodView"));
    m_goodView->label()->setObjectName(QStringLiteral("goodLabel"));
    m_noGoodView = new ChoiceView(ChoiceView::Mood::Unsatisfied, this);
    m_noGoodView->setObjectName(QStringLiteral("noGoodView"));
    m_noGoodView->label()->setObjectName(QStringLiteral("noGoodLabel"));
    choices->addStretch();
    choices->addWidget(m_goodView);
    choices->addWidget(m_noGoodView);
    choices->addStretch();
    layout->addLayout(choices);
    connect(m_goodView, &ChoiceView::clicked, this, &FeedbackVC::goodClick);
    connect(m_noGoodView, &ChoiceView::clicked, this, &FeedbackVC::notGoodClick);
    showChoice(0);
    layout->addSpacing(22);

    m_feedbackLab = makeLabel(this, "feedbackLabel", 13, true, Palette::text1());
    layout->addWidget(m_feedbackLab);
    layout->addSpacing(4);
    m_descLab = makeLabel(this, "descLabel", 12, false, Palette::text2());
    m_descLab->setWordWrap(true);
    m_descLab->setFixedWidth(kContentWidth);
    layout->addWidget(m_descLab);
    layout->addSpacing(8);
    m_textview = new QPlainTextEdit(this);
    m_textview->setObjectName(QStringLiteral("commentTextEdit"));
    m_textview->setTabChangesFocus(true);
    m_textview->setFixedSize(kContentWidth, 132);
    // The fields look as the sheets' fields do: rounded, with room inside.
    SheetStyle::styleField(m_textview);
    layout->addWidget(m_textview);
    layout->addSpacing(18);

    m_contactTitleLab = makeLabel(this, "contactTitleLabel", 13, true, Palette::text1());
    layout->addWidget(m_contactTitleLab);
    layout->addSpacing(8);
    m_contactTf = new QLineEdit(this);
    m_contactTf->setObjectName(QStringLiteral("contactLineEdit"));
    m_contactTf->setFixedWidth(kContentWidth);
    SheetStyle::styleField(m_contactTf);
    layout->addWidget(m_contactTf);
    layout->addSpacing(24);

    m_submitBtn = new QPushButton(this);
    m_submitBtn->setObjectName(QStringLiteral("submitButton"));
    SheetStyle::stylePrimaryButton(m_submitBtn);
    m_submitBtn->setMinimumSize(140, 34);
    layout->addWidget(m_submitBtn, 0, Qt::AlignHCenter);
    connect(m_submitBtn, &QPushButton::clicked, this, &FeedbackVC::commitClick);
}

void FeedbackVC::international()
{
    setWindowTitle(L(QStringLiteral("意见反馈")));
    m_titleLab->setText(L(QStringLiteral("您在使用软件过程中感受如何？")));
    m_goodView->label()->setText(L(QStringLiteral("满意")));
    m_noGoodView->label()->setText(L(QStringLiteral("不满意")));
    m_feedbackLab->setText(L(QStringLiteral("意见反馈")));
    m_descLab->setText(
        L(QStringLiteral("请描述您在使用我们的产品过程中所遇到的问题或者建议，我们会时刻关注，并不断优化。")));
    m_contactTitleLab->setText(L(QStringLiteral("联系方式")));
    m_contactTf->setPlaceholderText(L(QStringLiteral("QQ/Email/电话号码（可选）")));
    m_submitBtn->setText(L(QStringLiteral("提交")));
}

void FeedbackVC::viewWillAppear()
{
    // A window of its own, titled and closable only: no minimise, maximise or
    // resize. Not a dialog: the toasts of the form then show in this window,
    // which the user works in, instead of under it in the main window.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
}

void FeedbackVC::viewDidAppear()
{
    m_feelGood = 0;
    showChoice(0);
    m_textview->setFocus();
}

void FeedbackVC::showChoice(int feelGood)
{
    m_goodView->setAccent(feelGood == 1 ? chosenColor() : otherColor());
    m_noGoodView->setAccent(feelGood == 2 ? chosenColor() : otherColor());
}

void FeedbackVC::goodClick()
{
    showChoice(1);
    m_feelGood = 1;
}

void FeedbackVC::notGoodClick()
{
    showChoice(2);
    m_feelGood = 2;
}

void FeedbackVC::commitClick()
{
    if (!m_submitBtn->isEnabled())
        return;
    const QString contact = m_contactTf->text();
    const QString comment = m_textview->toPlainText();
    const bool blank = comment.trimmed().isEmpty();
    if (blank && m_feelGood == 0) {
        HUD::showInfoWithStatus(L(QStringLiteral("请输入反馈信息或选择满意度")));
        return;
    }
    if (comment.size() > kMaxCommentLength) {
        HUD::showInfoWithStatus(L(QStringLiteral("反馈文本太长")));
        return;
    }
    if (m_feelGood != 0) {
        TrackManager::TrackSatisfyWithFuncName(QStringLiteral("使用满意度"), m_feelGood == 1);
        if (blank) {
            dismissViewController();
            return;
        }
    }
    m_submitBtn->setEnabled(false);
    // The window may be closed while the request is out; the answer is then
    // still told, but nothing of the screen is touched.
    QPointer<FeedbackVC> self(this);
    ApiManager::shared().sendFeedBack(comment, contact, [self](bool success, const QString&, const QJsonDocument&) {
        if (!success)
            HUD::showErrorWithStatus(L(QStringLiteral("提交失败，在稍后再次尝试")));
        if (FeedbackVC* screen = self.data())
            screen->requestDidFinish(success);
    });
}

void FeedbackVC::requestDidFinish(bool success)
{
    m_submitBtn->setEnabled(true);
    if (success)
        dismissViewController();
}
