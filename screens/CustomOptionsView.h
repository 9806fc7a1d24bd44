#pragma once

#include "engine/JobModels.h"

#include <QWidget>

class QComboBox;
class QLabel;

// The panel of the compression sheet's custom option: the archive's format
// and how hard it is compressed, two menus with their captions. The mode
// menu offers what the chosen format can do (CompressionChoice); a mode it
// cannot do gives way to the nearest one. Main thread only.
class CustomOptionsView final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CustomOptionsView)

public:
    explicit CustomOptionsView(QWidget* parent = nullptr);
    ~CustomOptionsView() override;

    ZipModel::Custom choice() const { return m_choice; }
    // Shows `choice`, a mode its format lacks replaced; emits nothing.
    void setChoice(const ZipModel::Custom& choice);
    // The captions and the modes' names in the current language.
    void international();

signals:
    // The user chose another format or mode.
    void choiceChanged();

private:
    void fillMenus();
    void onFormatChosen(int index);
    void onModeChosen(int index);

    ZipModel::Custom m_choice;

    QLabel* formatLab = nullptr;
    QComboBox* formatMenu = nullptr;
    QLabel* modeLab = nullptr;
    QComboBox* modeMenu = nullptr;
};
