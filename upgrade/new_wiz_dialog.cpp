#include "upgrade/new_wiz_dialog.h"

#include "upgrade/new_wiz_page.h"

#include <QFrame>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QWindow>
#include <algorithm>

namespace zrq406 {

namespace {

QPushButton* makeButton(QWidget* parent, bool visible) {
    auto* button = new QPushButton(parent);
    // Enter is the frame's to interpret (Next on a Yes/Skip page), not whichever button has the focus.
    button->setAutoDefault(false);
    button->setVisible(visible);
    return button;
}

} // namespace

CNewWizDialog::CNewWizDialog(QWidget* parent) : QDialog(parent), m_panel(new QFrame(this)) {
    // Created from left to right, so that Tab walks the row in reading order.
    m_back = makeButton(this, true);
    m_skip = makeButton(this, false);
    m_next = makeButton(this, true);
    m_yes = makeButton(this, false);
    m_finish = makeButton(this, false);
    m_cancel = makeButton(this, true);
    m_close = makeButton(this, false);
    connect(m_next, &QPushButton::clicked, this, &CNewWizDialog::nextStep);
    connect(m_yes, &QPushButton::clicked, this, &CNewWizDialog::nextStep);
    connect(m_back, &QPushButton::clicked, this, &CNewWizDialog::backStep);
    connect(m_skip, &QPushButton::clicked, this, &CNewWizDialog::skipStep);
    connect(m_finish, &QPushButton::clicked, this, &CNewWizDialog::finishStep);
    connect(m_cancel, &QPushButton::clicked, this, &CNewWizDialog::cancelStep);
    connect(m_close, &QPushButton::clicked, this, &CNewWizDialog::cancelStep);
}

CNewWizDialog::~CNewWizDialog() {
    ReleasePages();
}

void CNewWizDialog::addPage(CNewWizPage* page) {
    m_pages.emplace_back(page);
}

int CNewWizDialog::pageIndex(const CNewWizPage* page) const {
    for (std::size_t i = 0; i < m_pages.size(); ++i)
        if (m_pages[i] == page)
            return static_cast<int>(i);
    return -1;
}

CNewWizPage* CNewWizDialog::pageAt(int index) const {
    if (index < 0 || index >= static_cast<int>(m_pages.size()))
        return nullptr;
    return m_pages[static_cast<std::size_t>(index)];
}

CNewWizPage* CNewWizDialog::pageById(int id, CNewWizPage* relativeTo, int offset) const {
    if (id == -1)
        return nullptr;
    if (id == 0)
        return pageAt(pageIndex(relativeTo) + offset);
    for (const auto& page : m_pages)
        if (page && page->templateId() == id)
            return page;
    return nullptr;
}

bool CNewWizDialog::ShowPage(CNewWizPage* page) {
    if (page == nullptr)
        return false;
    if (!page->m_created) {
        if (!page->InitPage())
            return false;
        page->m_created = true;
    }
    if (m_current != nullptr) {
        if (!m_current->LeavePage())
            return false;
        m_current->hide();
        m_current->m_active = false;
    }
    const QRect area = m_panel->geometry();
    page->setGeometry(area.x() + 1, area.y() + 1, area.width() - 3, area.height() - 3);
    page->setEnabled(true);
    page->show();
    page->raise();
    m_current = page;
    page->EnterPage();
    page->m_active = true;

    if (pageIndex(page) < 4)
        m_next->setFocus();
    if (page->AsksYesSkip())
        m_yes->setFocus();
    if (page->LocksButtons())
        for (QPushButton* button : {m_yes, m_skip, m_close, m_next, m_cancel, m_back})
            button->hide();
    return true;
}

void CNewWizDialog::setButtonsFor(CNewWizPage* target) {
    const bool question = target->AsksYesSkip();
    for (QPushButton* button : {m_yes, m_skip, m_close})
        button->setVisible(question);
    for (QPushButton* button : {m_next, m_back, m_cancel})
        button->setVisible(!question);
}

void CNewWizDialog::startWizard() {
    m_initialised = true;
    if (m_current != nullptr && m_current->LeavePage()) {
        m_current->hide();
        m_current->m_active = false;
        m_current = nullptr;
    }
    m_back->setEnabled(false);
    m_finish->setEnabled(true);
    m_next->setEnabled(m_pages.size() >= 2);
    ShowPage(pageAt(0));
}

void CNewWizDialog::nextStep() {
    // The user cannot move a locked page on; only the page itself can (wizardStep).
    if (m_current == nullptr || m_current->LocksButtons())
        return;
    advance();
}

void CNewWizDialog::advance() {
    if (m_current == nullptr)
        return;
    CNewWizPage* target = pageById(m_current->NextPageId(), m_current, 1);
    if (target == nullptr)
        return;
    setButtonsFor(target);
    ShowPage(target);
    if (pageIndex(target) == static_cast<int>(m_pages.size()) - 1) {
        if (queuedCount() == 0) {
            m_finish->show();
            m_finish->setFocus();
            m_cancel->hide();
            m_next->hide();
        } else {
            m_cancel->show();
            m_next->show();
            m_next->setFocus();
        }
        m_back->hide();
    }
    const int index = pageIndex(m_current);
    if (index == 1 || index == 2)
        m_back->setEnabled(true);
    if (m_current->AsksYesSkip())
        m_yes->setFocus();
}

void CNewWizDialog::backStep() {
    if (m_current == nullptr || m_current->LocksButtons())
        return;
    goBack();
}

void CNewWizDialog::goBack() {
    if (m_current == nullptr)
        return;
    CNewWizPage* target = pageById(m_current->BackPageId(), m_current, -1);
    if (target == nullptr || !ShowPage(target))
        return;
    if (pageIndex(target) == 0)
        m_back->setEnabled(false);
    m_next->setEnabled(true);
    m_finish->setEnabled(true);
    setButtonsFor(target);
}

void CNewWizDialog::finishStep() {
    if (m_current != nullptr && !m_current->LeavePage())
        return;
    for (const auto& page : m_pages)
        if (page && page->m_created && !page->AllowFinish())
            return;
    QDialog::accept();
}

void CNewWizDialog::cancelStep() {
    // A locked page runs an upgrade; a disabled Cancel means a page's worker is filling the queue.
    if (m_current != nullptr && (m_current->LocksButtons() || !m_cancel->isEnabled()))
        return;
    clearQueue();
    for (const auto& page : m_pages)
        if (page && page->m_created && !page->AllowCancel())
            return;
    QDialog::reject();
}

void CNewWizDialog::reject() {
    cancelStep();
}

void CNewWizDialog::wizardStep(int step) {
    if (step == StepNext)
        advance();
    else if (step == StepBack)
        goBack();
}

void CNewWizDialog::ReleasePages() {
    if (m_released)
        return;
    m_released = true;
    for (const auto& page : m_pages)
        if (page && page->m_created && page->LeavePage())
            page->ReleasePage();
}

void CNewWizDialog::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (m_current != nullptr && m_current->AsksYesSkip()) {
            // Enter on Skip or Close does what the focused button says; anywhere else on the question it is Yes.
            if (focusWidget() == m_skip || focusWidget() == m_close)
                static_cast<QPushButton*>(focusWidget())->click();
            else if (m_yes->isVisible() && m_yes->isEnabled())
                nextStep();
        }
        return;
    }
    QDialog::keyPressEvent(event);
}

void CNewWizDialog::mousePressEvent(QMouseEvent* event) {
    if (!m_initialised || event->button() != Qt::LeftButton) {
        QDialog::mousePressEvent(event);
        return;
    }
    // A press on a free point of the frame or of a page (which passes it on) moves the window.
    event->accept();
    if (windowHandle() != nullptr && windowHandle()->startSystemMove())
        return;
    m_dragging = true;
    m_dragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void CNewWizDialog::mouseMoveEvent(QMouseEvent* event) {
    if (m_dragging && (event->buttons() & Qt::LeftButton)) {
        move(event->globalPosition().toPoint() - m_dragOffset);
        event->accept();
        return;
    }
    QDialog::mouseMoveEvent(event);
}

void CNewWizDialog::mouseReleaseEvent(QMouseEvent* event) {
    m_dragging = false;
    QDialog::mouseReleaseEvent(event);
}

} // namespace zrq406
