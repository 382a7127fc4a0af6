#include "utility/about_page.h"

#include "gui/hyperlink_label.h"
#include "gui/page_layout.h"
#include "gui/picture_box.h"
#include "gui/widget_font.h"
#include "link/library_version.h"
#include "platform/program_version.h"
#include "uitext/load_ui_setting.h"
#include "uitext/placeholders.h"
#include "utility/main_dialog.h"
#include "utility/utility_context.h"

#include <QLabel>
#include <QtGlobal>

namespace zrq406::utility {

CAboutPage::CAboutPage(CHomePlugDeviceManagerDlg& main) : UtilityPage(nullptr) {
    setObjectName(QStringLiteral("CAboutPage"));
    CLoadUISetting& texts = main.context().texts;
    PageLayout layout(texts, "AboutTab");
    auto* picture = new PictureBox(QStringLiteral("zrq406"), this);
    layout.rect(picture, "pictureBox5", 1107, texts.LoadPageCaption("ZRQ406", "AboutTab", "Text"));
    auto* name = layout.add<QLabel>(this, "label103", 1108);
    auto* version = new QLabel(this);
    version->setTextFormat(Qt::PlainText);
    layout.control(version, "lblVersion", 1109);
    std::string built = std::string(programVersion()) + " (Qt " + qVersion();
    if (const std::string capture = link::captureLibraryVersion(); !capture.empty())
        built += ", " + capture;
    built += ")";
    version->setText(qtText(fillPlaceholders(stdText(version->text()), {built})));
    auto* purpose = new QLabel(this);
    purpose->setWordWrap(true);
    layout.control(purpose, "label104", 1110);
    auto* needs = new QLabel(this);
    needs->setWordWrap(true);
    layout.control(needs, "label105", 1111);
    auto* support = layout.add<QLabel>(this, "label106", 1112);
    m_link = new HyperlinkLabel(this);
    layout.control(m_link, "linkLabel1", 1113);
    auto* licence = new QLabel(this);
    licence->setWordWrap(true);
    layout.control(licence, "lblLicense", 1114);
    ApplyDialogFont(this, texts);
    QFont heading = name->font();
    heading.setBold(true);
    heading.setPointSizeF(heading.pointSizeF() * 1.3);
    name->setFont(heading);
    support->setBuddy(m_link);
}

} // namespace zrq406::utility
