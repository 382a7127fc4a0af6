#include "gui/qt_message_service.h"

#include "gui/window_thread.h"

#include <QMessageBox>

namespace zrq406 {

namespace {

QMessageBox::Icon iconOf(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Warning:
    case MessageIcon::Exclamation:
        return QMessageBox::Warning;
    case MessageIcon::Stop:
        return QMessageBox::Critical;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

MessageAnswer QtMessageService::show(const Message& message) {
    return onWindowThread<MessageAnswer>([this, &message] { return showHere(message); });
}

MessageAnswer QtMessageService::showHere(const Message& message) {
    QMessageBox box(iconOf(message.icon), QString::fromStdString(message.caption), QString::fromStdString(message.text),
                    QMessageBox::NoButton, m_owner);
    // Device texts inside a message stay plain text, whatever they hold.
    box.setTextFormat(Qt::PlainText);
    switch (message.buttons) {
    case MessageButtons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case MessageButtons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case MessageButtons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Cancel:
        return MessageAnswer::Cancel;
    case QMessageBox::Yes:
        return MessageAnswer::Yes;
    case QMessageBox::No:
        return MessageAnswer::No;
    default:
        // Closing a box without pressing a button is its escape answer: Cancel or No where the box offers one.
        if (message.buttons == MessageButtons::OkCancel && box.clickedButton() == nullptr)
            return MessageAnswer::Cancel;
        return MessageAnswer::Ok;
    }
}

} // namespace zrq406
