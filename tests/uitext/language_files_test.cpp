// Every node that the two programs ask for, walked through the shipped language files with the loader itself:
// each must be present, non-empty, and numeric where a number is read; no query may show a message.

#include "tests/support/scripted_message_service.h"
#include "tests/support/source_dir.h"
#include "tests/uitext/recording_target.h"
#include "uitext/decimal_text.h"
#include "uitext/load_ui_setting.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <regex>
#include <string>
#include <vector>

using namespace zrq406;
using test::RecordingTarget;
using test::ScriptedMessageService;

namespace {

struct PageNodes {
    std::string page;
    std::vector<std::string> nodes;
};

struct ListColumns {
    std::string page;
    std::string list;
    std::vector<std::string> columns;
};

std::vector<std::string> numbered(const std::string& prefix, int first, int last, const std::string& suffix = "") {
    std::vector<std::string> names;
    for (int i = first; i <= last; ++i)
        names.push_back(prefix + std::to_string(i) + suffix);
    return names;
}

std::vector<std::string> joined(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// --- the configuration utility ------------------------------------------------------------------------------

const std::vector<PageNodes> kUtilityControls = {
    {"Utility", {"CloseButton", "Note"}},
    {"NetworkTab",
     {"button_Rename", "button_Factory_Reset", "button_Firmware_Upgrade", "btnLedOnOff", "button_Scan", "Detecting",
      "Devicenum", "NID", "lblNetworkType", "lblPublicKey", "btnToEncryption"}},
    {"EncryptionTab",
     {"label84", "btnEnterPWD", "btnAddDevice", "button_SetSelectedDevices", "button_Security_UseDefaultNetworkID",
      "label55", "label101", "groupBox28", "textBox_Security_NetworkID", "label54"}},
    {"QoSTab", joined({"label57", "VLANTOSGroup", "label107", "label56", "groupBox27", "label58", "button_QoS_Apply",
                       "VLANOverride", "TOSBitOverride"},
                      numbered("label", 71, 78))},
    {"MACConfigTab", {"button_Del_Device", "button_SaveReport", "button_PrintReport", "Device_History"}},
    {"AboutTab", {"label103", "linkLabel1", "label104", "label105", "label106", "lblVersion", "lblLicense"}},
    {"PwdForm", {"label1", "label2", "btnOK", "btnCancel", "label3", "label4"}},
    {"LEDForm", {"label2", "label1", "groupBox1", "rdoEnableLED", "rdoDisableLED", "btnLEDApply", "btnLEDCancel"}},
    {"upgradeform", {"label1", "label2", "label3", "label5", "btnUpgradeLoadFW", "button2", "button3"}},
};

const std::vector<PageNodes> kUtilityRectangles = {
    {"NetworkTab", {"TopologyView", "pictureBox1"}},
    {"EncryptionTab", {"listView4", "pictureBox2"}},
    {"QoSTab", joined(joined({"listView5", "cmbQosDevice", "lstQosMacAddress", "lstQosPort", "pictureBox3"},
                             numbered("VLAN", 0, 7, "Priority")),
                      numbered("TOS", 0, 7, "Priority"))},
    {"MACConfigTab", {"listView2", "listView3", "pictureBox4"}},
    {"AboutTab", {"pictureBox5"}},
    {"PwdForm", {"lblDeviceName", "txbDevicePwd", "pictureBox1"}},
    {"LEDForm", {"lblLEDSetDevice", "lblLEDSetMAC", "pictureBox1"}},
    {"upgradeform", {"textBox1", "FWFile", "progressBar1", "pictureBox10"}},
};

const std::vector<ListColumns> kUtilityColumns = {
    {"NetworkTab",
     "TopologyView",
     {"TopologyDeviceName", "TopologySTAMAC", "TopologyLocation", "TopologyQuality", "AveTXPHYRate", "TopologyLED",
      "FirmwareV"}},
    {"EncryptionTab", "listView4", {"DeviceN_s", "MACaddress_s", "Location_s", "password_s", "FWversion_s"}},
    {"QoSTab", "listView5", {"columnHeader5", "columnHeader6"}},
    {"QoSTab", "lstQosMacAddress", {"colMacAddress", "colMacCAP"}},
    {"QoSTab", "lstQosPort", {"colPort", "colPortCAP"}},
    {"MACConfigTab", "listView2", {"listView2_info"}},
    {"MACConfigTab",
     "listView3",
     {"listView3_1", "listView3_2", "listView3_4", "listView3_5", "listView3_9", "listView3_7", "listView3_8"}},
};

const std::vector<std::string> kUtilityMessages = {
    "Childmsg01", "msg01",  "msg02",  "msg04",  "msg10",  "msg11", "msg12",  "msg13",  "msg16",  "msg21",  "msg22",
    "msg24",      "msg28",  "msg29",  "msg30",  "msg31",  "msg32", "msg33",  "msg34",  "msg35",  "msg36",  "msg37",
    "msg38",      "msg39",  "msg40",  "msg41",  "msg45",  "msg48", "msg49",  "msg51",  "msg52",  "msg53",  "msg54",
    "msg57",      "msg59",  "msg60",  "msg61",  "msg62",  "msg63", "msg64",  "msg65",  "msg66",  "msg67",  "msg68",
    "msg69",      "msg70",  "msg71",  "msg72",  "msg73",  "msg74", "msg75",  "msg76",  "msg77",  "msg78",  "msg79",
    "msg80",      "msg81",  "msg82",  "msg83",  "msg84",  "msg85", "msg100", "msg101", "msg102", "msg103", "msg104",
    "msg113",     "msg114", "msg115", "msg116", "msg117", "msg118"};

// Further texts, as paths below /ZRQ406.
std::vector<std::string> utilityTexts() {
    std::vector<std::string> paths = {"Utility/Text",
                                      "NetworkTab/Text",
                                      "EncryptionTab/Text",
                                      "QoSTab/Text",
                                      "MACConfigTab/Text",
                                      "AboutTab/Text",
                                      "PwdForm/Text",
                                      "LEDForm/Text",
                                      "upgradeform/Text",
                                      "upgradeform/RestartWait/Text",
                                      "Utility/Child",
                                      "Font/FontName",
                                      "NetworkTab/Detecting/Text",
                                      "NetworkTab/Detecting/Text2",
                                      "NetworkTab/Devicenum/Text",
                                      "NetworkTab/lblNetworkType/Text2",
                                      "NetworkTab/lblNetworkType/Text3",
                                      "EncryptionTab/textBox_Security_NetworkID/Text",
                                      "AboutTab/linkLabel1/Text",
                                      "AboutTab/label103/Text",
                                      "AboutTab/label106/Text",
                                      "MACConfigTab/Device_History/Text",
                                      "Diagnostics/Value",
                                      "Diagnostics/Value2",
                                      "Diagnostics/Value3",
                                      "QoSTab/QosEntryMenu/Text",
                                      "QoSTab/QosEntryMenu/Text2",
                                      "QoSTab/QosEntryMenu/Text3",
                                      "AboutTab/lblVersion/Text",
                                      "AboutTab/lblLicense/Text",
                                      "QoSTab/lstQosMacAddress/Columns/colMacAddress/Text",
                                      "DeviceName/Value",
                                      "Location/Value1",
                                      "Location/Value2",
                                      "Quality/Value1",
                                      "Quality/Value2",
                                      "Quality/Value3",
                                      "LEDStatus/Value1",
                                      "LEDStatus/Value2",
                                      "DestMACAddress/Value",
                                      "DestIPPort/Value",
                                      "Messages/msg35/Text2",
                                      "Messages/msg36/Text2",
                                      "Messages/msg68/Text2",
                                      "Messages/msg68/Text3",
                                      "Messages/msg69/Text2",
                                      "Messages/msg80/Text2",
                                      "Messages/msg80/Text3",
                                      "NetworkTab/DeviceMenu/Text",
                                      "NetworkTab/DeviceMenu/Text2"};
    for (int i = 1; i <= 11; ++i)
        paths.push_back("MACConfigTab/listView2/Columns/listView2_info/Value" + std::to_string(i));
    for (const char* column :
         {"listView3_1", "listView3_2", "listView3_4", "listView3_5", "listView3_9", "listView3_7", "listView3_8"})
        paths.push_back(std::string("MACConfigTab/listView3/Columns/") + column + "/Text");
    for (int i = 1; i <= 5; ++i)
        paths.push_back("Priority/Value" + std::to_string(i));
    for (int i = 2; i <= 5; ++i)
        paths.push_back("Messages/msg102/Text" + std::to_string(i));
    paths.push_back("LinkHistory/Text");
    paths.push_back("LinkHistory/Report/Text");
    for (const char* node : {"Menu", "LinkLabel", "SpanLabel", "CloseButton"})
        paths.push_back(std::string("LinkHistory/") + node + "/Text");
    for (const char* field : {"Span/Text", "Span/Text2", "Span/Text3", "Legend/Text", "Legend/Text2", "Legend/Text3",
                              "Legend/Text4", "Chart/Text", "Chart/Text2", "Chart/Text3", "Chart/Text4", "Figures/Text",
                              "Figures/Text2", "Figures/Text3", "Figures/Text4", "Ranking/Text", "Ranking/Text2"})
        paths.push_back(std::string("LinkHistory/") + field);
    for (const char* column : {"From", "To", "Transmit", "Receive", "Drops", "Unanswered"})
        paths.push_back(std::string("LinkHistory/ReportList/Columns/") + column + "/Text");
    for (const char* node : {"Text", "Heading", "From", "To", "Transmit", "Receive", "Weaker", "Unknown", "NoLink",
                             "Note", "Local", "DeviceName", "LinkName", "LinkUnknown", "Empty", "Hosts", "NoHosts"})
        paths.push_back(std::string("LinkMap/") + node);
    paths.push_back("AddDevice/Text");
    for (const char* node :
         {"StepHeading/Text", "StepHeading/Text2", "StepHeading/Text3", "StepHeading/Text4", "Step1/Text",
          "Step2/Text",       "Step3/Text",        "Searching/Text",    "Countdown/Text",    "Found/Text",
          "NameLabel/Text",   "NotFound/Text",     "NotFound/Text2",    "NotFound/Text3",    "NotFound/Text4",
          "NotPressed/Text",  "btnBack/Text",      "btnNext/Text",      "btnPair/Text",      "btnTryAgain/Text",
          "btnFinish/Text",   "btnClose/Text",     "btnCancel/Text"})
        paths.push_back(std::string("AddDevice/") + node);
    for (const std::string& key : kUtilityMessages)
        paths.push_back("Messages/" + key + "/Text");
    return paths;
}

const std::vector<std::string> kUtilityNumbers = {"Utility/Size_w",     "Utility/Size_h",     "PwdForm/Size_w",
                                                  "PwdForm/Size_h",     "LEDForm/Size_w",     "LEDForm/Size_h",
                                                  "upgradeform/Size_w", "upgradeform/Size_h", "Font/FontSize"};

// --- the upgrade tool ---------------------------------------------------------------------------------------

const std::vector<PageNodes> kToolControls = {
    {"BaseDLG",
     {"Picture", "Panel", "ButtonNext", "ButtonBack", "ButtonYes", "ButtonFinish", "ButtonSkip", "ButtonClose",
      "ButtonCancel"}},
    {"WelcomeDLG", {"Catpion", "Welcome", "Welcome3", "WelcomeNote", "WelcomeMaint"}},
    {"DeviceList", {"Caption", "Devices"}},
    {"DeviceInfo",
     {"Caption", "DeviceIndex", "NameCaption", "MacCaption", "FirmwareCaption", "LocationCaption", "Name", "Mac",
      "Firmware", "Location"}},
    {"UpgradeDLG", {"UpSoft", "UpFirm", "UpConf", "ReSet", "Done", "Progress", "Prop"}},
    {"FinishDLG", {"Lable", "Note", "Backup"}},
};

const std::vector<std::string> kToolMessages = {"Parentmsg01", "msg01", "msg02", "msg03", "msg04",
                                                "msg05",       "msg06", "msg07", "msg08", "msg09",
                                                "msg10",       "msg11", "msg12", "msg13", "msg14"};

std::vector<std::string> toolTexts() {
    std::vector<std::string> paths = {"Utility/Text",
                                      "Utility/Parent",
                                      "Utility/ModelName",
                                      "Utility/FirmwareVersion",
                                      "Font/FontName",
                                      "DeviceList/Devices/ColumnName/value",
                                      "DeviceList/Devices/ColumnLocation/valueLocal",
                                      "DeviceList/Devices/ColumnLocation/valueRemote",
                                      "DeviceInfo/DeviceIndex/Text",
                                      "UpgradeDLG/UpgradeFilePath/Text",
                                      "FinishDLG/Lable/Text",
                                      "FinishDLG/Lable/Text2",
                                      "FinishDLG/Lable/Text3",
                                      "FinishDLG/Lable/Text4",
                                      "FinishDLG/Backup/Text",
                                      "BaseDLG/Picture/Text"};
    for (const char* column : {"ColumnName", "ColumnMac", "ColumnFMVer", "ColumnLocation"})
        paths.push_back(std::string("DeviceList/Devices/") + column + "/Text");
    for (const std::string& key : kToolMessages)
        paths.push_back("Messages/" + key + "/Text");
    return paths;
}

std::vector<std::string> toolNumbers() {
    std::vector<std::string> paths = {"Utility/Size_w", "Utility/Size_h", "Font/FontSize"};
    for (const char* column : {"ColumnName", "ColumnMac", "ColumnFMVer", "ColumnLocation"})
        paths.push_back(std::string("DeviceList/Devices/") + column + "/Size_w");
    return paths;
}

// ------------------------------------------------------------------------------------------------------------

std::filesystem::path languageFolder() {
    return test::sourceDirectory() / "lang";
}

bool isNumber(const std::string& text) {
    return std::regex_match(text, std::regex("-?[0-9]+"));
}

std::vector<std::string> splitPath(const std::string& path) {
    std::vector<std::string> parts{"ZRQ406"};
    std::size_t start = 0;
    for (std::size_t slash; (slash = path.find('/', start)) != std::string::npos; start = slash + 1)
        parts.push_back(path.substr(start, slash - start));
    parts.push_back(path.substr(start));
    return parts;
}

std::size_t countOf(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++count;
    return count;
}

struct Rect {
    int x, y, w, h;
};

class LanguageFile {
public:
    LanguageFile(const std::string& name, UiTextMode mode) : m_loader(m_messages, mode, "test") {
        const auto path = languageFolder() / name;
        m_loaded = m_loader.LoadXMLFile(path.string());
    }
    bool loaded() const { return m_loaded; }
    CLoadUISetting& loader() { return m_loader; }
    ScriptedMessageService& messages() { return m_messages; }

    // The text at a path below /ZRQ406, read with the array form every program can use.
    std::string text(const std::string& path) {
        std::string value;
        m_loader.GetStdNodeText(splitPath(path), value);
        return value;
    }

    Rect rect(const std::string& page, const std::string& control) {
        BasicCtrlInfo info;
        m_loader.GetBasicCtrlInfo4("ZRQ406", page, control, info);
        return {info.x, info.y, info.width, info.height};
    }

private:
    ScriptedMessageService m_messages;
    CLoadUISetting m_loader;
    bool m_loaded = false;
};

class UtilityFile : public ::testing::TestWithParam<const char*> {};
class ToolFile : public ::testing::TestWithParam<const char*> {};

void expectNoMessages(LanguageFile& file) {
    for (const Message& message : file.messages().shown())
        ADD_FAILURE() << "unexpected message: " << message.text;
}

} // namespace

TEST_P(UtilityFile, HoldsEveryNodeTheUtilityAsksFor) {
    LanguageFile file(GetParam(), UiTextMode::Utility);
    ASSERT_TRUE(file.loaded()) << (languageFolder() / GetParam());
    CLoadUISetting& loader = file.loader();

    for (const auto& [page, controls] : kUtilityControls) {
        for (const std::string& control : controls) {
            RecordingTarget target;
            EXPECT_TRUE(loader.LoadBasicCtrl(&target, "ZRQ406", page, control)) << page << "/" << control;
            ASSERT_EQ(target.texts.size(), 1u) << page << "/" << control;
            EXPECT_FALSE(target.texts[0].empty()) << page << "/" << control;
            for (const char* field : {"Location_x", "Location_y", "Size_w", "Size_h"})
                EXPECT_TRUE(isNumber(file.text(page + "/" + control + "/" + field))) << page << "/" << control;
        }
    }
    for (const auto& [page, controls] : kUtilityRectangles) {
        for (const std::string& control : controls) {
            RecordingTarget target;
            EXPECT_TRUE(loader.LoadBasicCtrl4(&target, "ZRQ406", page, control)) << page << "/" << control;
            EXPECT_EQ(target.rects.size(), 1u) << page << "/" << control;
            for (const char* field : {"Location_x", "Location_y", "Size_w", "Size_h"})
                EXPECT_TRUE(isNumber(file.text(page + "/" + control + "/" + field))) << page << "/" << control;
        }
    }
    EXPECT_TRUE(loader.LoadBasicCtrl4(nullptr, "ZRQ406", "tabControl1", ""));
    for (const auto& [page, list, columns] : kUtilityColumns) {
        for (const std::string& column : columns) {
            EXPECT_TRUE(loader.LoadBasicCtrl2("ZRQ406", page, list, "Columns", column)) << list << "/" << column;
            EXPECT_FALSE(loader.LastColumnInfo().text.empty()) << list << "/" << column;
            EXPECT_GT(loader.LastColumnInfo().width, 0) << list << "/" << column;
            EXPECT_TRUE(isNumber(file.text(page + "/" + list + "/Columns/" + column + "/Width"))) << column;
        }
    }
    for (const std::string& path : utilityTexts())
        EXPECT_FALSE(file.text(path).empty()) << path;
    for (const std::string& path : kUtilityNumbers)
        EXPECT_TRUE(isNumber(file.text(path))) << path;
    EXPECT_EQ(loader.LoadFontSize("ZRQ406", "Font", "FontSize"), 90);
    expectNoMessages(file);
}

TEST_P(UtilityFile, LaysOutEveryControlInsideItsWindow) {
    LanguageFile file(GetParam(), UiTextMode::Utility);
    ASSERT_TRUE(file.loaded());
    const Rect tabs = file.rect("tabControl1", "");
    const Rect window{0, 0, decimalValue(file.text("Utility/Size_w")), decimalValue(file.text("Utility/Size_h"))};
    EXPECT_LE(tabs.x + tabs.w, window.w);
    EXPECT_LE(tabs.y + tabs.h, window.h);
    // A tab page is the tab control less its tab row and frame.
    const Rect page{0, 0, tabs.w - 8, tabs.h - 30};
    const auto windowOf = [&](const std::string& node) {
        if (node == "Utility")
            return window;
        if (node == "PwdForm" || node == "LEDForm" || node == "upgradeform")
            return Rect{0, 0, decimalValue(file.text(node + "/Size_w")), decimalValue(file.text(node + "/Size_h"))};
        return page;
    };
    for (const auto* table : {&kUtilityControls, &kUtilityRectangles}) {
        for (const auto& [node, controls] : *table) {
            const Rect parent = windowOf(node);
            for (const std::string& control : controls) {
                const Rect r = file.rect(node, control);
                EXPECT_TRUE(r.x >= 0 && r.y >= 0 && r.w > 0 && r.h > 0) << node << "/" << control;
                EXPECT_LE(r.x + r.w, parent.w) << node << "/" << control;
                EXPECT_LE(r.y + r.h, parent.h) << node << "/" << control;
            }
        }
    }
    expectNoMessages(file);
}

TEST_P(UtilityFile, MessagesFitTheWayTheyAreShown) {
    LanguageFile file(GetParam(), UiTextMode::Utility);
    ASSERT_TRUE(file.loaded());
    EXPECT_EQ(file.text("EncryptionTab/textBox_Security_NetworkID/Text"), "HomePlugAV");

    // The length message is msg21 up to its first full stop followed directly by msg22.
    const std::string rules = file.text("Messages/msg21/Text");
    const std::string length = file.text("Messages/msg22/Text");
    ASSERT_NE(rules.find('.'), std::string::npos);
    EXPECT_EQ(length.rfind("\xC2\xA0", 0), 0u) << "msg22 starts with a no-break space so the sentences stay apart";

    // msg35: the device list goes where each text holds its "{0}".
    const std::string t1 = file.text("Messages/msg35/Text");
    const std::string t2 = file.text("Messages/msg35/Text2");
    ASSERT_NE(t1.find('0'), std::string::npos);
    ASSERT_NE(t2.find('0'), std::string::npos);
    const std::string head1 = t1.substr(0, t1.find('0') - 1);
    const std::string head2 = t2.substr(0, t2.find('0') - 1);
    const std::string tail2 = t2.substr(t2.find('0') + 2);
    for (const std::string& part : {head1, head2, tail2}) {
        EXPECT_FALSE(part.empty());
        EXPECT_EQ(part.find_first_of("{}0"), std::string::npos) << part;
    }

    // msg51 takes the device name, msg61 the upgrade tool's path, msg62 the capabilities and the program's path,
    // msg85 the language file and the folders searched; the others are shown as they stand.
    EXPECT_EQ(countOf(file.text("Messages/msg51/Text"), "%s"), 1u);
    EXPECT_EQ(countOf(file.text("Messages/msg51/Text"), "%"), 1u);
    EXPECT_EQ(countOf(file.text("Messages/msg116/Text"), "%s"), 1u);
    EXPECT_EQ(countOf(file.text("Messages/msg116/Text"), "%"), 1u);
    EXPECT_EQ(countOf(file.text("Messages/msg61/Text"), "%s"), 1u);
    EXPECT_EQ(countOf(file.text("Messages/msg62/Text"), "%s"), 2u);
    EXPECT_EQ(countOf(file.text("Messages/msg64/Text"), "%s"), 1u);
    EXPECT_EQ(countOf(file.text("Messages/msg82/Text"), "%s"), 1u);
    EXPECT_EQ(countOf(file.text("Messages/msg84/Text"), "%s"), 1u);
    EXPECT_EQ(countOf(file.text("Messages/msg85/Text"), "%"), 2u);
    EXPECT_EQ(countOf(file.text("Messages/msg85/Text"), "%s"), 2u);
    EXPECT_EQ(countOf(file.text("AboutTab/lblVersion/Text"), "%s"), 1u);
    EXPECT_EQ(countOf(file.text("Messages/msg100/Text"), "%"), 3u);
    EXPECT_EQ(countOf(file.text("Messages/msg100/Text"), "%s"), 3u);
    EXPECT_EQ(countOf(file.text("Messages/msg101/Text"), "%"), 1u);
    EXPECT_EQ(countOf(file.text("Messages/msg101/Text"), "%s"), 1u);
    EXPECT_EQ(countOf(file.text("Messages/msg103/Text"), "%"), 1u);
    EXPECT_EQ(countOf(file.text("Messages/msg103/Text"), "%s"), 1u);
    EXPECT_EQ(countOf(file.text("Messages/msg104/Text"), "%"), 2u);
    EXPECT_EQ(countOf(file.text("Messages/msg104/Text"), "%s"), 2u);
    EXPECT_EQ(countOf(file.text("LinkMap/DeviceName"), "%s"), 2u);
    EXPECT_EQ(countOf(file.text("LinkMap/LinkName"), "%s"), 4u);
    EXPECT_EQ(countOf(file.text("LinkMap/LinkUnknown"), "%s"), 2u);
    for (const std::string& key : kUtilityMessages) {
        if (key != "msg51" && key != "msg61" && key != "msg62" && key != "msg64" && key != "msg82" && key != "msg84" &&
            key != "msg85" && key != "msg100" && key != "msg101" && key != "msg103" && key != "msg104" &&
            key != "msg116") {
            EXPECT_EQ(file.text("Messages/" + key + "/Text").find('%'), std::string::npos) << key;
        }
    }
    EXPECT_EQ(file.text("Messages/msg35/Text2").find('%'), std::string::npos);
    EXPECT_EQ(file.text("Messages/msg36/Text2").find('%'), std::string::npos);
    expectNoMessages(file);
}

INSTANTIATE_TEST_SUITE_P(LanguageFiles, UtilityFile, ::testing::Values("English.xml", "German.xml"));

TEST_P(ToolFile, HoldsEveryNodeTheUpgradeToolAsksFor) {
    LanguageFile file(GetParam(), UiTextMode::UpgradeTool);
    ASSERT_TRUE(file.loaded()) << (languageFolder() / GetParam());
    CLoadUISetting& loader = file.loader();
    const Rect frame{0, 0, decimalValue(file.text("Utility/Size_w")), decimalValue(file.text("Utility/Size_h"))};
    const Rect panel = file.rect("BaseDLG", "Panel");
    EXPECT_LE(panel.x + panel.w, frame.w);
    EXPECT_LE(panel.y + panel.h, frame.h);

    for (const auto& [page, controls] : kToolControls) {
        // Pages sit one pixel inside the panel, three pixels smaller.
        const Rect parent = page == "BaseDLG" ? frame : Rect{0, 0, panel.w - 3, panel.h - 3};
        for (const std::string& control : controls) {
            RecordingTarget target;
            EXPECT_TRUE(loader.LoadBasicCtrl(&target, "ZRQ406", page, control)) << page << "/" << control;
            ASSERT_EQ(target.rects.size(), 1u) << page << "/" << control;
            const auto& r = target.rects[0];
            EXPECT_TRUE(r[0] >= 0 && r[1] >= 0 && r[2] > 0 && r[3] > 0) << page << "/" << control;
            EXPECT_LE(r[0] + r[2], parent.w) << page << "/" << control;
            EXPECT_LE(r[1] + r[3], parent.h) << page << "/" << control;
        }
    }
    for (const std::string& path : toolTexts())
        EXPECT_FALSE(file.text(path).empty()) << path;
    for (const std::string& path : toolNumbers())
        EXPECT_TRUE(isNumber(file.text(path))) << path;
    EXPECT_EQ(loader.LoadDialogFont().tenthsOfPoint, 90);
    EXPECT_FALSE(loader.LoadDialogFont().faceName.empty());
    expectNoMessages(file);
}

TEST_P(ToolFile, FormatsAndFixedTextsAreAsTheToolUsesThem) {
    LanguageFile file(GetParam(), UiTextMode::UpgradeTool);
    ASSERT_TRUE(file.loaded());
    EXPECT_EQ(file.text("Utility/Text"), "TALVERN ZRQ406 Upgrade Tool");
    EXPECT_EQ(file.text("Utility/ModelName"), "TALVERN ZRQ406");
    EXPECT_EQ(file.text("Utility/FirmwareVersion"), "3-3-3348-00-2764");
    for (const char* field : {"Text", "Text2", "Text3", "Text4"}) {
        const std::string format = file.text(std::string("FinishDLG/Lable/") + field);
        EXPECT_EQ(countOf(format, "%s"), 2u) << field;
        EXPECT_EQ(countOf(format, "%"), 2u) << field;
    }
    EXPECT_EQ(countOf(file.text("FinishDLG/Backup/Text"), "%s"), 1u);
    EXPECT_EQ(countOf(file.text("UpgradeDLG/UpFirm/Text"), "%s"), 1u);
    EXPECT_EQ(countOf(file.text("UpgradeDLG/UpFirm/Text"), "%"), 1u);
    EXPECT_EQ(countOf(file.text("FinishDLG/Backup/Text"), "%"), 1u);
    const std::string heading = file.text("WelcomeDLG/Catpion/Text");
    EXPECT_EQ(countOf(heading, "%s"), 1u);
    EXPECT_EQ(countOf(heading, "%"), 1u);
    // The device index heading goes through formatting without arguments.
    const std::string index = file.text("DeviceInfo/DeviceIndex/Text");
    EXPECT_EQ(countOf(index, "%") % 2, 0u);
    EXPECT_EQ(countOf(index, "%"), 2 * countOf(index, "%%"));
    // msg14 takes the language file and the folders searched; the other messages are shown as they stand.
    EXPECT_EQ(countOf(file.text("Messages/msg14/Text"), "%"), 2u);
    EXPECT_EQ(countOf(file.text("Messages/msg14/Text"), "%s"), 2u);
    for (const std::string& key : kToolMessages) {
        if (key != "msg14") {
            EXPECT_EQ(file.text("Messages/" + key + "/Text").find('%'), std::string::npos) << key;
        }
    }
    expectNoMessages(file);
}

INSTANTIATE_TEST_SUITE_P(LanguageFiles, ToolFile, ::testing::Values("EnglishUpgrade.xml", "GermanUpgrade.xml"));

// Each program captions its refusal with the other's title.
TEST(LanguageFiles, EachProgramNamesTheOtherByItsTitle) {
    for (const auto& [utilityName, toolName] :
         {std::pair{"English.xml", "EnglishUpgrade.xml"}, std::pair{"German.xml", "GermanUpgrade.xml"}}) {
        LanguageFile utility(utilityName, UiTextMode::Utility);
        LanguageFile tool(toolName, UiTextMode::UpgradeTool);
        ASSERT_TRUE(utility.loaded() && tool.loaded());
        EXPECT_EQ(utility.text("Utility/Child"), tool.text("Utility/Text")) << utilityName;
        EXPECT_EQ(tool.text("Utility/Parent"), utility.text("Utility/Text")) << toolName;
    }
}

TEST(LanguageFiles, TitlesAndQuotedTextsStandAsGiven) {
    LanguageFile english("English.xml", UiTextMode::Utility);
    LanguageFile german("German.xml", UiTextMode::Utility);
    LanguageFile tool("EnglishUpgrade.xml", UiTextMode::UpgradeTool);
    ASSERT_TRUE(english.loaded() && german.loaded() && tool.loaded());
    EXPECT_EQ(english.text("Utility/Text"), "TALVERN ZRQ406 Configuration Utility");
    EXPECT_EQ(german.text("Utility/Text"), "TALVERN ZRQ406 Konfigurationsprogramm");
    EXPECT_EQ(english.text("MACConfigTab/button_Del_Device/Text"), "Delete a Device from Device History.");
    EXPECT_EQ(english.text("Messages/msg21/Text").substr(0, english.text("Messages/msg21/Text").find('.') + 1) +
                  english.text("Messages/msg22/Text"),
              "The network password is not valid.\xC2\xA0It must be 8 to 64 characters long.");
    EXPECT_EQ(tool.text("UpgradeDLG/UpSoft/Text"), "Update softloader");
    EXPECT_EQ(tool.text("UpgradeDLG/Done/Text"), "Done.");
    EXPECT_EQ(tool.text("DeviceInfo/NameCaption/Text"), "Device Name:");
    EXPECT_EQ(tool.text("DeviceInfo/MacCaption/Text"), "MAC address:");
    EXPECT_EQ(tool.text("DeviceInfo/FirmwareCaption/Text"), "Firmware Version:");
    EXPECT_EQ(tool.text("DeviceInfo/LocationCaption/Text"), "Location:");
}

TEST(LanguageFiles, EveryMessageIsTranslated) {
    LanguageFile english("English.xml", UiTextMode::Utility);
    LanguageFile german("German.xml", UiTextMode::Utility);
    ASSERT_TRUE(english.loaded() && german.loaded());
    for (const std::string& key : kUtilityMessages)
        EXPECT_NE(english.text("Messages/" + key + "/Text"), german.text("Messages/" + key + "/Text")) << key;

    LanguageFile englishTool("EnglishUpgrade.xml", UiTextMode::UpgradeTool);
    LanguageFile germanTool("GermanUpgrade.xml", UiTextMode::UpgradeTool);
    ASSERT_TRUE(englishTool.loaded() && germanTool.loaded());
    for (const std::string& key : kToolMessages)
        EXPECT_NE(englishTool.text("Messages/" + key + "/Text"), germanTool.text("Messages/" + key + "/Text")) << key;
}
