#pragma once

#include <QDialog>
#include <QPoint>
#include <QPointer>
#include <vector>

class QPushButton;

namespace zrq406 {

class CNewWizPage;

// The wizard frame: a page area (the placeholder) over a row of seven buttons, and the steps that move between
// pages. The pages are added in order and owned by whoever made them; they must outlive the frame's run.
class CNewWizDialog : public QDialog {
    Q_OBJECT
public:
    // Dialog ids of the frame's controls.
    enum ControlId {
        IdPanel = 1010,
        IdNext = 12324,
        IdBack = 12323,
        IdYes = 12326,
        IdSkip = 144,
        IdFinish = 12325,
        IdClose = 145,
        IdCancel = 2
    };
    // The parameter of WM_WIZARD_STEP.
    enum WizardStep { StepBack = 0, StepNext = 1 };

    explicit CNewWizDialog(QWidget* parent = nullptr);
    ~CNewWizDialog() override;

    void addPage(CNewWizPage* page);
    // Shows a page in the page area, creating it first; false when it cannot be created or the active page
    // refuses to be left.
    bool ShowPage(CNewWizPage* page);
    CNewWizPage* currentPage() const { return m_current; }
    int pageIndex(const CNewWizPage* page) const;
    CNewWizPage* pageAt(int index) const;

    // The steps behind the buttons.
    void nextStep();
    void backStep();
    virtual void skipStep() {}
    void finishStep();
    void cancelStep();
    // WM_WIZARD_STEP: how a page moves the wizard itself, a locked page included (a worker calls it on the
    // window thread).
    void wizardStep(int step);
    // Every created page that agrees to be left is released (done once, before the pages go away).
    void ReleasePages();

    QWidget* panel() const { return m_panel; }
    QPushButton* nextButton() const { return m_next; }
    QPushButton* backButton() const { return m_back; }
    QPushButton* yesButton() const { return m_yes; }
    QPushButton* skipButton() const { return m_skip; }
    QPushButton* finishButton() const { return m_finish; }
    QPushButton* closeButton() const { return m_close; }
    QPushButton* cancelButton() const { return m_cancel; }

    // Cancel, Close, Escape and the window's close button all come here.
    void reject() override;

protected:
    // How many devices are still queued: the last page offers Finish only when none are.
    virtual int queuedCount() const { return 0; }
    // Cancel drops every queued device before the pages are asked.
    virtual void clearQueue() {}
    // Shows the first page with the first buttons; called once the frame is laid out.
    void startWizard();

    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void advance();
    void goBack();
    CNewWizPage* pageById(int id, CNewWizPage* relativeTo, int offset) const;
    void setButtonsFor(CNewWizPage* target);

    std::vector<QPointer<CNewWizPage>> m_pages;
    CNewWizPage* m_current = nullptr;
    QWidget* m_panel;
    QPushButton* m_next;
    QPushButton* m_back;
    QPushButton* m_yes;
    QPushButton* m_skip;
    QPushButton* m_finish;
    QPushButton* m_close;
    QPushButton* m_cancel;
    bool m_initialised = false;
    bool m_released = false;
    bool m_dragging = false;
    QPoint m_dragOffset;
};

} // namespace zrq406
