#include "gui/qt_message_service.h"

#include "gui/window_thread.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

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

// A text longer than this many lines or bytes is shown in a scrolling box: a message box would grow past the
// screen and cut off what does not fit (a long list of devices, say).
constexpr qsizetype kMaxBoxLines = 16;
constexpr qsizetype kMaxBoxBytes = 1600;

bool needsScrolling(const std::string& text) {
    return static_cast<qsizetype>(std::count(text.begin(), text.end(), '\n')) >= kMaxBoxLines ||
           static_cast<qsizetype>(text.size()) > kMaxBoxBytes;
}

QStyle::StandardPixmap pixmapOf(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Warning:
    case MessageIcon::Exclamation:
        return QStyle::SP_MessageBoxWarning;
    case MessageIcon::Stop:
        return QStyle::SP_MessageBoxCritical;
    case MessageIcon::Information:
    case MessageIcon::None:
        break;
    }
    return QStyle::SP_MessageBoxInformation;
}

} // namespace

MessageAnswer QtMessageService::show(const Message& message) {
    return onWindowThread<MessageAnswer>([this, &message] { return showHere(message); });
}

MessageAnswer QtMessageService::showHere(const Message& message) {
    if (needsScrolling(message.text))
        return showScrolling(message);
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

MessageAnswer QtMessageService::showScrolling(const Message& message) {
    QDialog box(m_owner);
    box.setObjectName(QStringLiteral("ScrollingMessage"));
    box.setWindowTitle(QString::fromStdString(message.caption));
    box.setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    auto* layout = new QVBoxLayout(&box);
    auto* row = new QHBoxLayout;
    if (message.icon != MessageIcon::None) {
        auto* icon = new QLabel(&box);
        const int side = box.style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, &box);
        icon->setPixmap(box.style()->standardIcon(pixmapOf(message.icon), nullptr, &box).pixmap(side, side));
        icon->setAlignment(Qt::AlignTop);
        row->addWidget(icon);
    }
    auto* text = new QPlainTextEdit(&box);
    text->setObjectName(QStringLiteral("messageText"));
    text->setReadOnly(true);
    text->setPlainText(QString::fromStdString(message.text));
    text->setAccessibleName(QString::fromStdString(message.caption));
    text->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    row->addWidget(text, 1);
    layout->addLayout(row, 1);
    auto* buttons = new QDialogButtonBox(&box);
    switch (message.buttons) {
    case MessageButtons::Ok:
        buttons->setStandardButtons(QDialogButtonBox::Ok);
        break;
    case MessageButtons::OkCancel:
        buttons->setStandardButtons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        break;
    case MessageButtons::YesNo:
        buttons->setStandardButtons(QDialogButtonBox::Yes | QDialogButtonBox::No);
        break;
    }
    layout->addWidget(buttons);
    QDialogButtonBox::StandardButton pressed = QDialogButtonBox::NoButton;
    QObject::connect(buttons, &QDialogButtonBox::clicked, &box, [&](QAbstractButton* button) {
        pressed = buttons->standardButton(button);
        box.accept();
    });
    box.resize(560, 380);
    // The first button takes the focus, as in a message box; the text is one Tab away.
    if (!buttons->buttons().isEmpty())
        buttons->buttons().front()->setFocus();
    box.exec();
    switch (pressed) {
    case QDialogButtonBox::Cancel:
        return MessageAnswer::Cancel;
    case QDialogButtonBox::Yes:
        return MessageAnswer::Yes;
    case QDialogButtonBox::No:
        return MessageAnswer::No;
    case QDialogButtonBox::Ok:
        return MessageAnswer::Ok;
    default:
        // Closed without a button: the escape answer, as for a message box.
        if (message.buttons == MessageButtons::OkCancel)
            return MessageAnswer::Cancel;
        return message.buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
    }
}

} // namespace zrq406
