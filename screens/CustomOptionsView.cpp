#include "screens/CustomOptionsView.h"

#include "platform/Bundle.h"
#include "screens/CompressionChoice.h"
#include "screens/Outlet.h"
#include "ui/SheetStyle.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>

CustomOptionsView::CustomOptionsView(QWidget* parent)
    : QWidget(parent)
{
    formatLab = Outlet::make<QLabel>(this, "formatLab");
    formatMenu = Outlet::make<QComboBox>(this, "formatMenu");
    modeLab = Outlet::make<QLabel>(this, "modeLab");
    modeMenu = Outlet::make<QComboBox>(this, "modeMenu");
    formatLab->setBuddy(formatMenu);
    modeLab->setBuddy(modeMenu);
    for (QLabel* caption : { formatLab, modeLab })
        SheetStyle::styleCaption(caption);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(SheetStyle::kGrid * 3, SheetStyle::kGrid * 2, SheetStyle::kGrid * 3, SheetStyle::kGrid * 2);
    row->setSpacing(SheetStyle::kGrid * 2);
    row->addWidget(formatLab);
    row->addWidget(formatMenu);
    row->addSpacing(SheetStyle::kGrid * 4);
    row->addWidget(modeLab);
    row->addWidget(modeMenu);
    row->addStretch(1);

    connect(formatMenu, &QComboBox::currentIndexChanged, this, &CustomOptionsView::onFormatChosen);
    connect(modeMenu, &QComboBox::currentIndexChanged, this, &CustomOptionsView::onModeChosen);
    fillMenus();
}

CustomOptionsView::~CustomOptionsView() = default;

void CustomOptionsView::setChoice(const ZipModel::Custom& choice)
{
    m_choice = choice;
    m_choice.mode = CompressionChoice::offeredMode(choice.format, choice.mode);
    fillMenus();
}

void CustomOptionsView::international()
{
    formatLab->setText(L(QStringLiteral("格式:")));
    modeLab->setText(L(QStringLiteral("压缩级别:")));
    formatMenu->setAccessibleName(L(QStringLiteral("格式:")));
    modeMenu->setAccessibleName(L(QStringLiteral("压缩级别:")));
    fillMenus();
}

void CustomOptionsView::fillMenus()
{
    // Filled from the choice; only the user's own changes are reported.
    const QSignalBlocker formats(formatMenu);
    const QSignalBlocker modes(modeMenu);
    formatMenu->clear();
    // The formats go by the names their files end in, in every language.
    for (CompressionOptions::Format format : CompressionChoice::formats())
        formatMenu->addItem(CompressionOptions::formatName(format), static_cast<int>(format));
    formatMenu->setCurrentIndex(formatMenu->findData(static_cast<int>(m_choice.format)));
    modeMenu->clear();
    for (CompressionOptions::Mode mode : CompressionChoice::modes(m_choice.format))
        modeMenu->addItem(L(CompressionChoice::modeKey(mode)), static_cast<int>(mode));
    modeMenu->setCurrentIndex(modeMenu->findData(static_cast<int>(m_choice.mode)));
}

void CustomOptionsView::onFormatChosen(int index)
{
    if (index < 0)
        return;
    m_choice.format = static_cast<CompressionOptions::Format>(formatMenu->itemData(index).toInt());
    m_choice.mode = CompressionChoice::offeredMode(m_choice.format, m_choice.mode);
    fillMenus();
    emit choiceChanged();
}

void CustomOptionsView::onModeChosen(int index)
{
    if (index < 0)
        return;
    m_choice.mode = static_cast<CompressionOptions::Mode>(modeMenu->itemData(index).toInt());
    emit choiceChanged();
}
