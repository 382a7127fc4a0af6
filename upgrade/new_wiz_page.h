#pragma once

#include <QWidget>

namespace zrq406 {

class CNewWizDialog;

// One page of the wizard frame. The frame creates its controls on first show (InitPage) and asks its hooks as
// the user moves through the pages; the base answers let every step happen.
class CNewWizPage : public QWidget {
    Q_OBJECT
public:
    CNewWizPage(CNewWizDialog& frame, int templateId);

    int templateId() const { return m_templateId; }
    bool created() const { return m_created; }
    bool active() const { return m_active; }
    CNewWizDialog& frame() { return m_frame; }

    // Lays out the page's controls; false leaves the wizard where it is.
    virtual bool InitPage() { return true; }
    // The page is going away with the frame.
    virtual void ReleasePage() {}
    // The page is about to be left; false keeps it.
    virtual bool LeavePage() { return true; }
    // The page has just been shown.
    virtual void EnterPage() {}
    virtual bool AllowCancel() { return true; }
    // The page Back leads to: -1 stays, 0 the preceding page, else the page of that template id.
    virtual int BackPageId() { return 0; }
    // The page Next leads to: -1 stays, 0 the following page, else the page of that template id.
    virtual int NextPageId() { return 0; }
    virtual bool AllowFinish() { return true; }
    // The page asks a question answered by Yes or Skip (Enter means Yes).
    virtual bool AsksYesSkip() { return false; }
    // The page runs an operation that must not be left: no button, no closing.
    virtual bool LocksButtons() { return false; }

private:
    friend class CNewWizDialog;

    CNewWizDialog& m_frame;
    int m_templateId;
    bool m_created = false;
    bool m_active = false;
};

} // namespace zrq406
