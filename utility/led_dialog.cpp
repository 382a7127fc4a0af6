#include "utility/led_dialog.h"

#include "gui/page_layout.h"
#include "gui/picture_box.h"
#include "gui/widget_font.h"
#include "uitext/load_ui_setting.h"
#include "utility/utility_context.h"

#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

namespace zrq406::utility {

CSetLED::CSetLED(UtilityContext& context, const std::string& name, const std::string& mac, const std::string& ledText,
                 QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("CSetLED"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    PageLayout layout(context.texts, "LEDForm");
    layout.window(this);
    auto* picture = new PictureBox(QStringLiteral("led"), this);
    layout.rect(picture, "pictureBox1", 1103, stdText(windowTitle()));
    auto* nameCaption = layout.add<QLabel>(this, "label1", 1089);
    auto* nameLabel = new QLabel(qtText(name), this);
    layout.rect(nameLabel, "lblLEDSetDevice", 1068, "");
    auto* macCaption = layout.add<QLabel>(this, "label2", 1090);
    auto* macLabel = new QLabel(qtText(mac), this);
    layout.rect(macLabel, "lblLEDSetMAC", 1069, "");
    layout.add<QGroupBox>(this, "groupBox1", 1091);
    m_enable = layout.add<QRadioButton>(this, "rdoEnableLED", 1070);
    m_disable = layout.add<QRadioButton>(this, "rdoDisableLED", 1071);
    auto* apply = layout.add<QPushButton>(this, "btnLEDApply", 1009);
    auto* cancel = layout.add<QPushButton>(this, "btnLEDCancel", 2);
    ApplyDialogFont(this, context.texts);
    // The radio buttons lie over the group box, as siblings, where the language file puts them.
    m_enable->raise();
    m_disable->raise();
    nameCaption->setBuddy(nameLabel);
    macCaption->setBuddy(macLabel);

    const bool on = ledText == context.texts.LoadPageCaption("ZRQ406", "LEDStatus", "Value1");
    (on ? m_enable : m_disable)->setChecked(true);
    for (QPushButton* button : {apply, cancel})
        button->setAutoDefault(false);
    connect(apply, &QPushButton::clicked, this, [this] { done(kApplied); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

bool CSetLED::enableChosen() const {
    return m_enable->isChecked();
}

void CSetLED::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

} // namespace zrq406::utility
