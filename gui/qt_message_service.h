#pragma once

#include "platform/message_service.h"

#include <QPointer>
#include <QWidget>

namespace zrq406 {

// Message boxes as QMessageBox, shown on the window thread whichever thread asks: a worker's call waits there
// until the user has answered. A text too long for a message box is shown whole in a box that scrolls.
class QtMessageService : public MessageService {
public:
    MessageAnswer show(const Message& message) override;
    // The window that owns the boxes (nullptr: boxes without owner).
    void setOwner(QWidget* owner) { m_owner = owner; }

private:
    MessageAnswer showHere(const Message& message);
    // A long text in a scrolling box of the same buttons.
    MessageAnswer showScrolling(const Message& message);

    QPointer<QWidget> m_owner;
};

} // namespace zrq406
