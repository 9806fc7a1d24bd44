#include "ui/SheetStyle.h"

#include "ui/Styling.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QStringList>

namespace {

QColor hex(const char* text)
{
    return *Styling::hexStr(QString::fromLatin1(text));
}

QString css(const QColor& color)
{
    return color.name(QColor::HexRgb);
}

// The layer helpers write the widget's own style sheet; the states of a
// button (hover, pressed, focus, disabled) and its padding are added to it,
// each rule addressed to the button alone. `{}` in a rule is the selector.
void addStates(QPushButton* button, const QStringList& rules)
{
    const QString selector = u'#' + button->objectName();
    QString sheet = button->styleSheet();
    for (const QString& rule : rules)
        sheet += QString(rule).replace(QStringLiteral("{}"), selector);
    button->setStyleSheet(sheet);
}

void sizeButton(QPushButton* button)
{
    button->setMinimumHeight(SheetStyle::kButtonHeight);
    button->setMinimumWidth(SheetStyle::kButtonMinWidth);
    button->setCursor(Qt::PointingHandCursor);
}

} // namespace

namespace SheetStyle {

void styleSheetWindow(QWidget* sheet)
{
    QPalette palette = sheet->palette();
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Highlight, hex("067DFF"));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    // Unavailable controls keep the style's own greyed text.
    for (QPalette::ColorGroup group : { QPalette::Active, QPalette::Inactive }) {
        palette.setColor(group, QPalette::WindowText, Palette::text1());
        palette.setColor(group, QPalette::Text, Palette::text1());
    }
    sheet->setPalette(palette);
    sheet->setAutoFillBackground(true);
}

void stylePrimaryButton(QPushButton* button, double radius)
{
    const QColor blue = hex("067DFF");
    Styling::setBackgroundColor(button, blue);
    Styling::setCornerRadius(button, radius);
    Styling::setTitleColor(button, Qt::white);
    sizeButton(button);
    const QString padding = QString::number(4 * kGrid);
    addStates(button,
        {
            // The border is always there, transparent, so focus never resizes the title.
            QStringLiteral("{}{color:white;border:2px solid transparent;padding:0 %1px;}").arg(padding),
            QStringLiteral("{}:hover{background-color:%1;}").arg(css(blue.lighter(112))),
            QStringLiteral("{}:pressed{background-color:%1;}").arg(css(blue.darker(115))),
            // A darker rim of the button's own blue: opaque, so that its edge
            // stays sharp at any scale, and plain on the default button.
            QStringLiteral("{}:focus{border:2px solid %1;}").arg(css(blue.darker(150))),
            QStringLiteral("{}:disabled{background-color:rgba(6,125,255,110);}"),
        });
}

void styleSecondaryButton(QPushButton* button)
{
    Styling::setBackgroundColor(button, Qt::white);
    Styling::setCornerRadius(button, 4.0);
    Styling::setBorderWidth(button, 1.0);
    Styling::setBorderColor(button, hex("DDDDDD"));
    sizeButton(button);
    addStates(button,
        {
            QStringLiteral("{}{color:%1;padding:0 %2px;}").arg(css(Palette::text1()), QString::number(4 * kGrid)),
            QStringLiteral("{}:hover{background-color:#F5F6F8;}"),
            QStringLiteral("{}:pressed{background-color:#E9EAEE;}"),
            QStringLiteral("{}:focus{border-color:#067DFF;}"),
            QStringLiteral("{}:disabled{color:#BBBBBB;}"),
        });
}

void styleCaption(QLabel* label)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Palette::text2());
    label->setPalette(palette);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
}

void styleField(QWidget* field)
{
    const QString self = u'#' + field->objectName();
    field->setStyleSheet(QStringLiteral("%1{border:1px solid #DDDDDD;border-radius:4px;padding:2px %2px;"
                                        "background-color:white;color:%3;}"
                                        "%1:focus{border-color:#067DFF;}"
                                        "%1:disabled{color:#BBBBBB;background-color:#F7F7F7;}")
                             .arg(self, QString::number(kGrid), css(Palette::text1())));
    if (auto* line = qobject_cast<QLineEdit*>(field))
        line->setMinimumHeight(kButtonHeight);
}

void styleSubject(QLabel* name, QLabel* detail)
{
    QFont font = name->font();
    font.setWeight(QFont::DemiBold);
    name->setFont(font);
    name->setTextFormat(Qt::PlainText);
    QPalette palette = name->palette();
    palette.setColor(QPalette::WindowText, Palette::text1());
    name->setPalette(palette);
    palette.setColor(QPalette::WindowText, Palette::text2());
    detail->setPalette(palette);
    detail->setTextFormat(Qt::PlainText);
}

QBoxLayout* subjectRow(QLabel* name, QLabel* detail)
{
    auto* row = new QHBoxLayout;
    row->setSpacing(2 * kGrid);
    row->addWidget(name);
    row->addWidget(detail);
    row->addStretch(1);
    return row;
}

QLayout* buttonRow(QPushButton* secondary, QPushButton* primary)
{
    auto* row = new QHBoxLayout;
    row->setSpacing(kColumnSpacing);
    row->addStretch(1);
    row->addWidget(secondary);
    row->addWidget(primary);
    return row;
}

} // namespace SheetStyle
