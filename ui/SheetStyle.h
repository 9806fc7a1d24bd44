#pragma once

class QAbstractButton;
class QBoxLayout;
class QLabel;
class QLayout;
class QPushButton;
class QWidget;

// The look shared by the sheets: a 4-pixel spacing grid, the accent blue
// "067DFF" for the primary button, checkmarks, focus and selection, white
// buttons bordered "DDDDDD" for the others.
namespace SheetStyle {

inline constexpr int kGrid = 4;
inline constexpr int kMargin = 6 * kGrid; // around a sheet's content
inline constexpr int kRowSpacing = 3 * kGrid; // between rows of controls
inline constexpr int kColumnSpacing = 3 * kGrid;
inline constexpr int kButtonHeight = 8 * kGrid;
inline constexpr int kButtonMinWidth = 22 * kGrid;
// The width a sheet's subject line (what the sheet acts on) may take.
inline constexpr int kSubjectWidth = 96 * kGrid;

// White background, the accent colour as highlight, the product's text colour.
void styleSheetWindow(QWidget* sheet);
// Layer background "067DFF", corner radius `radius`, white title; lighter
// under the pointer, darker when pressed, pale when disabled.
void stylePrimaryButton(QPushButton* button, double radius = 4.0);
// White layer, corner radius 4, a 1-pixel "DDDDDD" border.
void styleSecondaryButton(QPushButton* button);
// A caption in the secondary text colour, right-aligned before its field.
void styleCaption(QLabel* label);
// A text field: 32 pixels high, a 1-pixel "DDDDDD" border with corners of
// radius 4, accent blue when focused, and room inside for the text.
void styleField(QWidget* field);
// The subject line at the top of a sheet: a name in the text colour,
// medium weight, then a detail (a size) in the secondary colour.
void styleSubject(QLabel* name, QLabel* detail);
QBoxLayout* subjectRow(QLabel* name, QLabel* detail);
// The buttons' row at the bottom of a sheet: pushed to the right.
QLayout* buttonRow(QPushButton* secondary, QPushButton* primary);

} // namespace SheetStyle
