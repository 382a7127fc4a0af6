#pragma once

#include <QDialog>
#include <string>

class QRadioButton;

namespace zrq406::utility {

class UtilityContext;

// "LED Status Setting": the selected device's name and MAC address, Enable LED and Disable LED. Apply ends the
// dialog with the choice, Cancel without; Enter and Escape do neither.
class CSetLED : public QDialog {
    Q_OBJECT
public:
    static constexpr int kApplied = 103;

    CSetLED(UtilityContext& context, const std::string& name, const std::string& mac, const std::string& ledText,
            QWidget* parent = nullptr);

    // True when Enable LED is chosen.
    bool enableChosen() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QRadioButton* m_enable = nullptr;
    QRadioButton* m_disable = nullptr;
};

} // namespace zrq406::utility
