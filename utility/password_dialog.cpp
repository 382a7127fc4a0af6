#include "utility/password_dialog.h"

#include "app/device_actions.h"
#include "gui/page_layout.h"
#include "gui/picture_box.h"
#include "gui/run_operation.h"
#include "gui/worker_runner.h"
#include "gui/widget_font.h"
#include "mme/key_derivation.h"
#include "utility/utility_context.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

namespace zrq406::utility {

CSetDAK::CSetDAK(UtilityContext& context, BusyWindow& window, const std::string& name, const std::string& mac,
                 QWidget* parent)
    : QDialog(parent), m_context(context), m_window(window), m_mac(mac),
      m_workers(std::make_unique<WorkerRunner>(this)) {
    setObjectName(QStringLiteral("CSetDAK"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    PageLayout layout(context.texts, "PwdForm");
    layout.window(this);
    auto* picture = new PictureBox(QStringLiteral("key"), this);
    layout.rect(picture, "pictureBox1", 1105, stdText(windowTitle()));
    auto* nameCaption = layout.add<QLabel>(this, "label1", 1089);
    // Device names are the user's own text: shown as they stand, never as markup.
    auto* nameLabel = new QLabel(this);
    nameLabel->setTextFormat(Qt::PlainText);
    nameLabel->setWordWrap(true);
    nameLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    nameLabel->setText(qtText(name + "        [" + mac + "]"));
    layout.rect(nameLabel, "lblDeviceName", 1068, "");
    auto* passwordCaption = layout.add<QLabel>(this, "label2", 1090);
    m_password = new QLineEdit(this);
    layout.rect(m_password, "txbDevicePwd", 1001, stdText(passwordCaption->text()));
    auto* hint = new QLabel(this);
    hint->setWordWrap(true);
    layout.control(hint, "label3", 1091);
    layout.add<QLabel>(this, "label4", 1095);
    m_ok = layout.add<QPushButton>(this, "btnOK", 1);
    m_cancel = layout.add<QPushButton>(this, "btnCancel", 2);
    ApplyDialogFont(this, context.texts);
    nameCaption->setBuddy(nameLabel);
    passwordCaption->setBuddy(m_password);
    m_password->setFocus();

    for (QPushButton* button : {m_ok, m_cancel}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    connect(m_password, &QLineEdit::textEdited, this, &CSetDAK::upperCaseTyped);
    connect(m_ok, &QPushButton::clicked, this, &CSetDAK::onOk);
    connect(m_cancel, &QPushButton::clicked, this, &CSetDAK::reject);
}

CSetDAK::~CSetDAK() {
    m_workers->waitForIdle();
}

void CSetDAK::upperCaseTyped() {
    // Device passwords are printed in capitals; what is typed becomes capitals where the cursor was.
    const QString typed = m_password->text();
    const QString upper = qtText(app::upperCaseDevicePassword(stdText(typed)));
    if (upper == typed)
        return;
    const int cursor = m_password->cursorPosition();
    m_password->setText(upper);
    m_password->setCursorPosition(cursor);
}

void CSetDAK::setControlsEnabled(bool enabled) {
    m_ok->setEnabled(enabled);
    m_cancel->setEnabled(enabled);
    m_password->setEnabled(enabled);
}

void CSetDAK::onOk() {
    if (m_proving)
        return;
    setControlsEnabled(false);
    // Text set other than by typing (through the accessibility interface, say) is upper-cased here.
    const std::string password = app::upperCaseDevicePassword(stdText(m_password->text()));
    if (!mme::isDevicePasswordForm(password)) {
        m_context.showMessage("msg57", MessageIcon::Exclamation);
        setControlsEnabled(true);
        m_password->setFocus();
        return;
    }
    m_entered = password;
    m_proving = true;
    setCursor(Qt::WaitCursor);
    const MacAddress device = MacAddress::fromText(m_mac);
    app::Session& session = m_context.session;
    const QPointer<CSetDAK> self(this);
    if (m_proof) {
        m_workers->start<std::optional<app::PasswordProof>>(
            [proof = m_proof, password]() -> std::optional<app::PasswordProof> {
                try {
                    return proof(password);
                } catch (...) {
                    return app::PasswordProof::Refused;
                }
            },
            [self](std::optional<app::PasswordProof> proof) {
                if (self)
                    self->proofEnded(proof);
            },
            [self](const std::string& what) {
                if (!self)
                    return;
                self->m_window.operationFailed(what);
                self->proofEnded(std::nullopt);
            });
        return;
    }
    const bool started = runOperation<app::PasswordProof>(
        m_window, [&session, device, password] { return app::proveDevicePassword(session, device, password); },
        [self](std::optional<app::PasswordProof> proof) {
            if (self)
                self->proofEnded(proof);
        });
    if (!started)
        proofEnded(std::nullopt);
}

void CSetDAK::proofEnded(std::optional<app::PasswordProof> proof) {
    m_proving = false;
    unsetCursor();
    if (proof == app::PasswordProof::Accepted) {
        done(kAccepted);
        return;
    }
    setControlsEnabled(true);
    m_entered.clear();
    // A key not read from the device would move it to another network: then nothing was sent. Without a proof
    // (another operation ran, or the worker failed) the window has said why.
    if (proof)
        m_context.showMessage(proof == app::PasswordProof::KeyUnreadable ? "msg63" : "msg04", MessageIcon::Stop);
    m_password->setFocus();
}

void CSetDAK::keyPressEvent(QKeyEvent* event) {
    // Enter neither presses OK nor closes the dialog; nothing closes it while the password is proved.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
        (m_proving && event->key() == Qt::Key_Escape)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CSetDAK::closeEvent(QCloseEvent* event) {
    if (m_proving) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void CSetDAK::reject() {
    if (!m_proving)
        QDialog::reject();
}

} // namespace zrq406::utility
