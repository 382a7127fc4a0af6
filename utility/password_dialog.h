#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QLineEdit;
class QPushButton;

namespace zrq406 {
class BusyWindow;
class WorkerRunner;
} // namespace zrq406

namespace zrq406::app {
enum class PasswordProof;
}

namespace zrq406::utility {

class UtilityContext;

// "Device Password": the password printed on a remote device, proved against the device before it is taken. The
// proof reads the device's network membership key and sends that same key back through the password's device
// access key, so the device stays on its network; only the right password is accepted. The proof runs on a
// worker while the dialog waits with its controls disabled. Enter does nothing; OK checks, Cancel and the close
// box give up.
class CSetDAK : public QDialog {
    Q_OBJECT
public:
    // The result of an accepted password.
    static constexpr int kAccepted = 100;

    // The proof is `window`'s device operation, so that nothing else uses the adapters meanwhile.
    CSetDAK(UtilityContext& context, BusyWindow& window, const std::string& name, const std::string& mac,
            QWidget* parent = nullptr);
    ~CSetDAK() override;

    // EnteredDevicePassword: the accepted password; empty after a refusal.
    const std::string& enteredPassword() const { return m_entered; }
    // True while the password is being proved.
    bool proving() const { return m_proving; }
    // What OK does, on a worker, with a password of the right form instead of the proof: for a device that this
    // computer's network no longer reaches, whose key cannot be read first. Used inside an operation that already
    // holds the session (the upgrade that took the device off its network), so it starts no operation of its own.
    using Proof = std::function<app::PasswordProof(const std::string& password)>;
    void setProof(Proof proof) { m_proof = std::move(proof); }

public Q_SLOTS:
    // OK: VerifyDevicePassword.
    void onOk();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void setControlsEnabled(bool enabled);
    void upperCaseTyped();
    // The proof's outcome (nothing when it did not run or its worker failed).
    void proofEnded(std::optional<app::PasswordProof> proof);

    UtilityContext& m_context;
    BusyWindow& m_window;
    std::string m_mac;
    std::string m_entered;
    QLineEdit* m_password = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
    bool m_proving = false;
    Proof m_proof;
    std::unique_ptr<WorkerRunner> m_workers;
};

} // namespace zrq406::utility
