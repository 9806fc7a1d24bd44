#pragma once

#include "ui/ViewController.h"

class ChoiceView;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// The feedback form: a satisfaction choice, a comment and an optional
// contact. A choice is recorded as a usage event; a comment is sent to the
// feedback service. Made anew for every opening and shown as a modal window
// that can only be closed; it deletes itself once dismissed. Main thread only.
class FeedbackVC final : public ViewController {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FeedbackVC)

public:
    static FeedbackVC* initFromStory();
    ~FeedbackVC() override;

    // Comments longer than this many UTF-16 units are refused.
    static constexpr int kMaxCommentLength = 1000;

protected:
    void viewDidLoad() override;
    void viewWillAppear() override;
    void viewDidAppear() override;
    void international() override;

private:
    FeedbackVC();
    void buildView();
    void goodClick();
    void notGoodClick();
    void commitClick();
    void requestDidFinish(bool success);
    void showChoice(int feelGood);

    QPlainTextEdit* m_textview = nullptr;
    QLineEdit* m_contactTf = nullptr;
    QLabel* m_titleLab = nullptr;
    ChoiceView* m_goodView = nullptr;
    ChoiceView* m_noGoodView = nullptr;
    QLabel* m_feedbackLab = nullptr;
    QLabel* m_descLab = nullptr;
    QLabel* m_contactTitleLab = nullptr;
    QPushButton* m_submitBtn = nullptr;
    int m_feelGood = 0; // 0 = no choice, 1 = satisfied, 2 = not satisfied
};
