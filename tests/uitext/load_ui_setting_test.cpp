#include "tests/support/scripted_message_service.h"
#include "tests/uitext/recording_target.h"
#include "uitext/decimal_text.h"
#include "uitext/load_ui_setting.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

using namespace zrq406;
using test::RecordingTarget;
using test::ScriptedMessageService;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

constexpr const char* kSample = R"(<?xml version="1.0" encoding="UTF-8"?>
<ZRQ406>
    <Utility>
        <Text>Sample Title</Text>
        <Size_w>760</Size_w>
        <Empty></Empty>
        <Blank>   </Blank>
        <CloseButton>
            <Text>Exit</Text>
            <Location_x>650</Location_x>
            <Location_y>510</Location_y>
            <Size_w>100</Size_w>
            <Size_h>30</Size_h>
        </CloseButton>
        <NoY>
            <Text>Half laid out</Text>
            <Location_x>5</Location_x>
            <Size_w>10</Size_w>
            <Size_h>10</Size_h>
        </NoY>
        <EmptyText>
            <Text/>
            <Location_x>1</Location_x>
            <Location_y>2</Location_y>
            <Size_w>3</Size_w>
            <Size_h>4</Size_h>
        </EmptyText>
        <Mixed>  Hello <b>big</b> <![CDATA[world]]>  </Mixed>
    </Utility>
    <tabControl1>
        <Location_x>10</Location_x>
        <Location_y>20</Location_y>
        <Size_w>740</Size_w>
        <Size_h>480</Size_h>
    </tabControl1>
    <NetworkTab>
        <TopologyView>
            <Location_x>10</Location_x>
            <Location_y>80</Location_y>
            <Size_w>710</Size_w>
            <Size_h>260</Size_h>
            <Columns>
                <TopologyDeviceName><Text>Gerätename</Text><Width>130</Width></TopologyDeviceName>
                <NoWidth><Text>Broken</Text></NoWidth>
            </Columns>
        </TopologyView>
    </NetworkTab>
    <Font>
        <FontName>DejaVu Sans</FontName>
        <FontSize>nine</FontSize>
    </Font>
</ZRQ406>
)";

class LoaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> serial{0};
        m_dir = std::filesystem::temp_directory_path() /
                ("zrq406-uitext-" + std::to_string(getpid()) + "-" + std::to_string(serial++));
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::string writeFile(const std::string& name, const std::string& content) {
        const auto path = m_dir / name;
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }

    // A loader in `mode` with the sample loaded and the load's own messages forgotten.
    std::unique_ptr<CLoadUISetting> loaded(UiTextMode mode) {
        auto loader = std::make_unique<CLoadUISetting>(messages, mode, "Sample Title");
        EXPECT_TRUE(loader->LoadXMLFile(writeFile("sample.xml", kSample)));
        messages.clear();
        return loader;
    }

    ScriptedMessageService messages;
    std::filesystem::path m_dir;
};

const std::vector<std::string> kMissingControlCascade = {
    "select single node failure.", "CLoadUISetting::GetStdNodeText failure.", "GetBasicCtrlInfo failure.",
    "CLoadUISetting::LoadBasicCtrl failure."};

} // namespace

TEST(DecimalText, ReadsLikeTheCLibrary) {
    EXPECT_EQ(decimalValue("90"), 90);
    EXPECT_EQ(decimalValue(" \t\n-12px"), -12);
    EXPECT_EQ(decimalValue("+7"), 7);
    EXPECT_EQ(decimalValue("12.7"), 12);
    EXPECT_EQ(decimalValue("abc"), 0);
    EXPECT_EQ(decimalValue(""), 0);
    EXPECT_EQ(decimalValue("- 5"), 0);
    EXPECT_EQ(decimalValue("0x10"), 0);
    EXPECT_EQ(decimalValue("99999999999999999999"), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(decimalValue("-99999999999999999999"), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(decimalValue("-2147483648"), std::numeric_limits<std::int32_t>::min());
}

TEST_F(LoaderTest, MissingFileFailsOnceThenEveryQueryCascadesFromItsOwnLevel) {
    CLoadUISetting loader(messages, UiTextMode::Utility, "My Program");
    EXPECT_FALSE(loader.LoadXMLFile((m_dir / "absent.xml").string()));
    EXPECT_FALSE(loader.isLoaded());
    EXPECT_THAT(messages.texts(), ElementsAre("Load XML file failure."));
    EXPECT_EQ(messages.shown()[0].caption, "My Program");
    EXPECT_EQ(messages.shown()[0].buttons, MessageButtons::Ok);
    messages.clear();

    RecordingTarget button;
    EXPECT_FALSE(loader.LoadBasicCtrl(&button, "ZRQ406", "Utility", "CloseButton"));
    EXPECT_THAT(messages.texts(), ElementsAre("CLoadUISetting::GetStdNodeText failure.", "GetBasicCtrlInfo failure.",
                                              "CLoadUISetting::LoadBasicCtrl failure."));
    EXPECT_THAT(button.texts, IsEmpty());
    EXPECT_THAT(button.rects, IsEmpty());
    messages.clear();

    EXPECT_EQ(loader.LoadPageCaption("ZRQ406", "Utility", "Text"), "");
    EXPECT_EQ(loader.LoadFontSize("ZRQ406", "Font", "FontSize"), 0);
    std::string text = "left over";
    EXPECT_FALSE(loader.SelectNodeText("/ZRQ406/Utility/Text", text));
    EXPECT_THAT(messages.texts(),
                ElementsAre("CLoadUISetting::LoadPageCaption failure.", "CLoadUISetting::LoadFontSize failure."));
}

TEST_F(LoaderTest, UnreadableFilesNameTheirFailure) {
    CLoadUISetting loader(messages, UiTextMode::Utility, "T");
    EXPECT_FALSE(loader.LoadXMLFile(writeFile("broken.xml", "<ZRQ406><Utility>")));
    EXPECT_FALSE(loader.LoadXMLFile(writeFile("empty.xml", "")));
    EXPECT_FALSE(loader.LoadXMLFile(writeFile("comment.xml", "<?xml version=\"1.0\"?><!-- nothing -->")));
    EXPECT_THAT(messages.texts(),
                ElementsAre("Load XML file failure.", "Load XML file failure.", "Load XML file failure."));

    // A good file after a bad one is used, and a bad one after a good one leaves nothing loaded.
    EXPECT_TRUE(loader.LoadXMLFile(writeFile("good.xml", kSample)));
    EXPECT_EQ(loader.LoadPageCaption("ZRQ406", "Utility", "Text"), "Sample Title");
    EXPECT_FALSE(loader.LoadXMLFile((m_dir / "absent.xml").string()));
    EXPECT_FALSE(loader.isLoaded());
    // A FIFO in the file's place is refused at once; an ordinary open would wait for a writer for ever.
    ASSERT_EQ(::mkfifo((m_dir / "pipe.xml").c_str(), 0600), 0);
    EXPECT_FALSE(loader.LoadXMLFile((m_dir / "pipe.xml").string()));
}

TEST_F(LoaderTest, ControlTextAndRectangleAreApplied) {
    const auto loader = loaded(UiTextMode::Utility);
    RecordingTarget button;
    EXPECT_TRUE(loader->LoadBasicCtrl(&button, "ZRQ406", "Utility", "CloseButton"));
    EXPECT_THAT(button.texts, ElementsAre("Exit"));
    EXPECT_THAT(button.rects, ElementsAre(std::array<int, 4>{650, 510, 100, 30}));
    // A control the page could not find moves nothing, and the file's node is still fine.
    EXPECT_TRUE(loader->LoadBasicCtrl(nullptr, "ZRQ406", "Utility", "CloseButton"));
    EXPECT_THAT(messages.texts(), IsEmpty());
}

TEST_F(LoaderTest, MissingControlNodeShowsTheFullCascade) {
    for (const UiTextMode mode : {UiTextMode::Utility, UiTextMode::UpgradeTool}) {
        const auto loader = loaded(mode);
        RecordingTarget control;
        EXPECT_FALSE(loader->LoadBasicCtrl(&control, "ZRQ406", "Utility", "NoSuchButton"));
        EXPECT_EQ(messages.texts(), kMissingControlCascade);
        for (const Message& shown : messages.shown())
            EXPECT_EQ(shown.caption, "Sample Title");
        EXPECT_THAT(control.texts, IsEmpty());
        EXPECT_THAT(control.rects, IsEmpty());
    }
}

TEST_F(LoaderTest, RectangleWithoutLocationYIsNotAppliedAtAll) {
    const auto loader = loaded(UiTextMode::Utility);
    RecordingTarget control;
    BasicCtrlInfo info{"before", 9, 9, 9, 9};
    EXPECT_FALSE(loader->GetBasicCtrlInfo("ZRQ406", "Utility", "NoY", info));
    EXPECT_EQ(info.text, "before"); // the caller's record keeps what it had
    messages.clear();
    EXPECT_FALSE(loader->LoadBasicCtrl(&control, "ZRQ406", "Utility", "NoY"));
    EXPECT_EQ(messages.texts(), kMissingControlCascade);
    // The text was read first, but is not applied either.
    EXPECT_THAT(control.texts, IsEmpty());
    EXPECT_THAT(control.rects, IsEmpty());
}

TEST_F(LoaderTest, EmptyTextIsReportedAndUsedByTheUtility) {
    const auto loader = loaded(UiTextMode::Utility);
    EXPECT_EQ(loader->LoadPageCaption("ZRQ406", "Utility", "Empty"), "");
    EXPECT_EQ(loader->LoadPageCaption("ZRQ406", "Utility", "Blank"), ""); // white space only trims to nothing
    EXPECT_EQ(loader->LoadFontSize("ZRQ406", "Utility", "Empty"), 0);
    EXPECT_THAT(messages.texts(), ElementsAre("_bstr_t copy failure", "_bstr_t copy failure", "_bstr_t copy failure"));
    messages.clear();

    RecordingTarget control;
    EXPECT_TRUE(loader->LoadBasicCtrl(&control, "ZRQ406", "Utility", "EmptyText"));
    EXPECT_THAT(messages.texts(), ElementsAre("_bstr_t copy failure"));
    EXPECT_THAT(control.texts, ElementsAre(""));
    EXPECT_THAT(control.rects, ElementsAre(std::array<int, 4>{1, 2, 3, 4}));
}

TEST_F(LoaderTest, EmptyTextFailsTheUpgradeTool) {
    const auto loader = loaded(UiTextMode::UpgradeTool);
    std::string text = "stale";
    EXPECT_FALSE(loader->SelectNodeText("/ZRQ406/Utility/Empty", text));
    EXPECT_THAT(messages.texts(), ElementsAre("_bstr_t copy failure"));
    messages.clear();

    RecordingTarget control;
    EXPECT_FALSE(loader->LoadBasicCtrl(&control, "ZRQ406", "Utility", "EmptyText"));
    EXPECT_THAT(messages.texts(), ElementsAre("_bstr_t copy failure", "CLoadUISetting::GetStdNodeText failure.",
                                              "GetBasicCtrlInfo failure.", "CLoadUISetting::LoadBasicCtrl failure."));
    EXPECT_THAT(control.texts, IsEmpty());
    EXPECT_THAT(control.rects, IsEmpty());
    messages.clear();

    EXPECT_EQ(loader->LoadPageCaption("ZRQ406", "Utility", "Empty", "X"), "");
    EXPECT_THAT(messages.texts(),
                ElementsAre("select single node failure.", "CLoadUISetting::LoadPageCaption failure."));
}

TEST_F(LoaderTest, PathsLeaveOutAnEmptyControlOnlyInTheUtility) {
    const auto utility = loaded(UiTextMode::Utility);
    std::string text;
    EXPECT_TRUE(utility->GetStdNodeText("ZRQ406", "Utility", "", "Text", text));
    EXPECT_EQ(text, "Sample Title");
    EXPECT_TRUE(utility->GetStdNodeText("ZRQ406", "Utility", "CloseButton", "Text", text));
    EXPECT_EQ(text, "Exit");

    const auto tool = loaded(UiTextMode::UpgradeTool);
    EXPECT_TRUE(tool->GetStdNodeText("ZRQ406", "Utility", "CloseButton", "Size_h", text));
    EXPECT_EQ(text, "30");
    EXPECT_THAT(messages.texts(), IsEmpty());
}

TEST_F(LoaderTest, ArrayFormQueriesThePartsAndEmptiesTheTextOnFailure) {
    const auto loader = loaded(UiTextMode::UpgradeTool);
    std::vector<std::string> parts{"ZRQ406", "Utility", "Text"};
    std::string text;
    EXPECT_TRUE(loader->GetStdNodeText(parts, text));
    EXPECT_EQ(text, "Sample Title");
    parts.back() = "Size_w";
    EXPECT_TRUE(loader->GetStdNodeText(parts, text));
    EXPECT_EQ(decimalValue(text), 760);
    parts.back() = "Size_h";
    EXPECT_FALSE(loader->GetStdNodeText(parts, text));
    EXPECT_EQ(text, "");
    EXPECT_THAT(messages.texts(),
                ElementsAre("select single node failure.", "CLoadUISetting::GetStdNodeText failure."));
}

TEST_F(LoaderTest, ColumnAndPageRectangleKeepTheirLastGoodValues) {
    const auto loader = loaded(UiTextMode::Utility);
    EXPECT_TRUE(loader->LoadBasicCtrl2("ZRQ406", "NetworkTab", "TopologyView", "Columns", "TopologyDeviceName"));
    EXPECT_EQ(loader->LastColumnInfo().text, "Gerätename"); // UTF-8 as it stands in the file
    EXPECT_EQ(loader->LastColumnInfo().width, 130);

    EXPECT_FALSE(loader->LoadBasicCtrl2("ZRQ406", "NetworkTab", "TopologyView", "Columns", "NoWidth"));
    EXPECT_THAT(messages.texts(), ElementsAre("select single node failure.", "CLoadUISetting::GetStdNodeText2 failure.",
                                              "GetBasicCtrlInfo2 failure.", "CLoadUISetting::LoadBasicCtrl2 failure."));
    EXPECT_EQ(loader->LastColumnInfo().text, "Gerätename");
    messages.clear();

    RecordingTarget tabs;
    EXPECT_TRUE(loader->LoadBasicCtrl4(&tabs, "ZRQ406", "tabControl1", ""));
    EXPECT_THAT(tabs.rects, IsEmpty()); // the page rectangle is for the caller, nothing is moved
    EXPECT_EQ(loader->LastPageRect().x, 10);
    EXPECT_EQ(loader->LastPageRect().y, 20);
    EXPECT_EQ(loader->LastPageRect().width, 740);
    EXPECT_EQ(loader->LastPageRect().height, 480);

    EXPECT_FALSE(loader->LoadBasicCtrl4(&tabs, "ZRQ406", "NetworkTab", ""));
    EXPECT_THAT(messages.texts(), ElementsAre("select single node failure.", "CLoadUISetting::GetStdNodeText failure.",
                                              "GetBasicCtrlInfo4 failure.", "CLoadUISetting::LoadBasicCtrl4 failure."));
    EXPECT_EQ(loader->LastPageRect().width, 740);
    messages.clear();

    RecordingTarget list;
    EXPECT_TRUE(loader->LoadBasicCtrl4(&list, "ZRQ406", "NetworkTab", "TopologyView"));
    EXPECT_THAT(list.texts, IsEmpty());
    EXPECT_THAT(list.rects, ElementsAre(std::array<int, 4>{10, 80, 710, 260}));
    EXPECT_EQ(loader->LastPageRect().y, 20);
}

TEST_F(LoaderTest, NodeTextIsAllDescendantTextTrimmed) {
    const auto loader = loaded(UiTextMode::Utility);
    EXPECT_EQ(loader->LoadPageCaption("ZRQ406", "Utility", "Mixed"), "Hello big world");
    // Names are case-sensitive, and a part that is no valid path selects nothing instead of failing hard.
    EXPECT_EQ(loader->LoadPageCaption("ZRQ406", "utility", "Text"), "");
    EXPECT_EQ(loader->LoadPageCaption("ZRQ406", "Utility[", "Text"), "");
    EXPECT_THAT(messages.texts(),
                ElementsAre("select single node failure.", "CLoadUISetting::LoadPageCaption failure.",
                            "select single node failure.", "CLoadUISetting::LoadPageCaption failure."));
}

TEST_F(LoaderTest, NonNumericFontSizeReadsAsZero) {
    const auto loader = loaded(UiTextMode::Utility);
    EXPECT_EQ(loader->LoadFontSize("ZRQ406", "Font", "FontSize"), 0);
    EXPECT_EQ(loader->LoadFontSize("ZRQ406", "Utility", "Size_w"), 760);
    const DialogFont font = loader->LoadDialogFont();
    EXPECT_EQ(font.faceName, "DejaVu Sans");
    EXPECT_EQ(font.tenthsOfPoint, 0);
    EXPECT_THAT(messages.texts(), IsEmpty());
}

TEST_F(LoaderTest, UpgradeToolBuildsItsFontOnce) {
    const auto loader = loaded(UiTextMode::UpgradeTool);
    writeFile("nofont.xml", "<ZRQ406><Font><FontName>Serif</FontName></Font></ZRQ406>");
    ASSERT_TRUE(loader->LoadXMLFile((m_dir / "nofont.xml").string()));
    messages.clear();
    DialogFont font = loader->LoadDialogFont();
    EXPECT_EQ(font.faceName, "Serif");
    EXPECT_EQ(font.tenthsOfPoint, 0);
    EXPECT_THAT(messages.texts(),
                ElementsAre("select single node failure.", "CLoadUISetting::GetStdNodeText failure."));
    messages.clear();
    font = loader->LoadDialogFont();
    EXPECT_EQ(font.faceName, "Serif");
    EXPECT_THAT(messages.texts(), IsEmpty());

    // The utility's pages each read it afresh, with the messages each time.
    CLoadUISetting utility(messages, UiTextMode::Utility, "T");
    ASSERT_TRUE(utility.LoadXMLFile((m_dir / "nofont.xml").string()));
    (void)utility.LoadDialogFont();
    (void)utility.LoadDialogFont();
    EXPECT_EQ(messages.texts().size(), 4u);
}

TEST_F(LoaderTest, DeeplyNestedTextIsReadWithoutRecursion) {
    std::string xml = "<ZRQ406><Utility><Text>";
    constexpr int kDepth = 200000;
    for (int i = 0; i < kDepth; ++i)
        xml += "<b>";
    xml += "deep";
    for (int i = 0; i < kDepth; ++i)
        xml += "</b>";
    xml += " end</Text></Utility></ZRQ406>";
    CLoadUISetting loader(messages, UiTextMode::Utility, "T");
    ASSERT_TRUE(loader.LoadXMLFile(writeFile("deep.xml", xml)));
    EXPECT_EQ(loader.LoadPageCaption("ZRQ406", "Utility", "Text"), "deep end");
}
