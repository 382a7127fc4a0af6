#include "gui/widget_font.h"
#include "gui/widget_target.h"
#include "tests/support/scripted_message_service.h"
#include "tests/support/source_dir.h"
#include "uitext/load_ui_setting.h"

#include <QApplication>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace zrq406;

namespace {

std::string languageFile(const char* name) {
    return (test::sourceDirectory() / "lang" / name).string();
}

} // namespace

TEST(WidgetTarget, TextGoesWhereTheWidgetShowsIt) {
    QDialog dialog;
    auto* label = new QLabel(&dialog);
    auto* group = new QGroupBox(&dialog);
    auto* bar = new QProgressBar(&dialog);

    WidgetTarget(&dialog).setText("Gerätekennwort");
    WidgetTarget(label).setText("Gerätename:");
    WidgetTarget(group).setText("LED");
    WidgetTarget(bar).setText("ignored"); // a progress bar's text is not settable
    WidgetTarget(label).setGeometry(10, 62, 130, 20);

    EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8("Gerätekennwort"));
    EXPECT_EQ(label->text(), QString::fromUtf8("Gerätename:"));
    EXPECT_EQ(group->title(), "LED");
    EXPECT_FALSE(bar->dynamicPropertyNames().contains("text"));
    EXPECT_EQ(label->geometry(), QRect(10, 62, 130, 20));
}

TEST(WidgetTarget, LanguageFileLaysOutARealButton) {
    test::ScriptedMessageService messages;
    CLoadUISetting settings(messages, UiTextMode::Utility, "test");
    ASSERT_TRUE(settings.LoadXMLFile(languageFile("English.xml")));
    QDialog page;
    auto* scan = new QPushButton(&page);
    WidgetTarget target(scan);
    ASSERT_TRUE(settings.LoadBasicCtrl(&target, "ZRQ406", "NetworkTab", "button_Scan"));
    EXPECT_EQ(scan->text(), "Scan");
    BasicCtrlInfo rect;
    ASSERT_TRUE(settings.GetBasicCtrlInfo4("ZRQ406", "NetworkTab", "button_Scan", rect));
    EXPECT_EQ(scan->geometry(), QRect(rect.x, rect.y, rect.width, rect.height));
    EXPECT_TRUE(messages.shown().empty());
}

TEST(WidgetFont, SizeInTenthsOfAPointAndZeroKeepsTheDefault) {
    const QFont nine = makeDialogFont({"DejaVu Sans", 90});
    EXPECT_EQ(nine.family(), "DejaVu Sans");
    EXPECT_DOUBLE_EQ(nine.pointSizeF(), 9.0);
    const QFont fallback = makeDialogFont({"DejaVu Sans", 0});
    EXPECT_DOUBLE_EQ(fallback.pointSizeF(), QApplication::font().pointSizeF());
}

TEST(WidgetFont, AppliedToTheDialogAndItsDirectChildren) {
    test::ScriptedMessageService messages;
    CLoadUISetting settings(messages, UiTextMode::UpgradeTool, "test");
    ASSERT_TRUE(settings.LoadXMLFile(languageFile("EnglishUpgrade.xml")));
    QDialog dialog;
    auto* child = new QLabel(&dialog);
    ApplyDialogFont(&dialog, settings);
    EXPECT_DOUBLE_EQ(dialog.font().pointSizeF(), 9.0);
    EXPECT_DOUBLE_EQ(child->font().pointSizeF(), 9.0);
    EXPECT_TRUE(messages.shown().empty());
}
