#include "mme/qos_settings.h"

#include <gtest/gtest.h>
#include <vector>

using namespace zrq406;
using mme::QosPriority;

namespace {

std::vector<std::uint8_t> area() {
    return std::vector<std::uint8_t>(mme::cfg::kQosWidth, 0);
}

mme::QosSettings sample() {
    mme::QosSettings s = mme::QosSettings::defaults();
    s.vlanEnabled = true;
    s.tosMap[7] = QosPriority::Default;
    s.macRules = {{MacAddress{{0x00, 0x11, 0x22, 0x33, 0x44, 0x55}}, QosPriority::Cap3}};
    s.portRules = {{5060, QosPriority::Cap3}, {80, QosPriority::Cap0}};
    return s;
}

} // namespace

TEST(QosSettings, AnAreaWithoutTheLayoutReadsAsTheDefaults) {
    EXPECT_EQ(mme::decodeQosArea(area()).state, mme::QosAreaState::Unset);
    EXPECT_EQ(mme::decodeQosArea(area()).settings, mme::QosSettings::defaults());
    // Too short to hold the settings: nothing is read from it.
    std::vector<std::uint8_t> shortArea{'Q', 'S', 1, 3};
    EXPECT_EQ(mme::decodeQosArea(shortArea).state, mme::QosAreaState::Unset);
    auto other = area();
    ASSERT_TRUE(mme::encodeQosArea(sample(), other));
    other[mme::qos::kVersion] = 2;
    EXPECT_EQ(mme::decodeQosArea(other).state, mme::QosAreaState::Unset);
}

TEST(QosSettings, EncodedBytesFollowTheLayoutAndKeepReservedBytes) {
    auto bytes = area();
    bytes[22] = 0xA5;
    bytes[mme::cfg::kQosWidth - 1] = 0x5A;
    ASSERT_TRUE(mme::encodeQosArea(sample(), bytes));
    EXPECT_EQ(bytes[0], 'Q');
    EXPECT_EQ(bytes[1], 'S');
    EXPECT_EQ(bytes[2], 1);
    EXPECT_EQ(bytes[3], mme::qos::kVlanOn);
    EXPECT_EQ(bytes[4 + 6], static_cast<std::uint8_t>(QosPriority::Cap3)); // VLAN 6 -> CAP 3
    EXPECT_EQ(bytes[12 + 7], 0);                                           // TOS 7 -> default
    EXPECT_EQ(bytes[20], 1);
    EXPECT_EQ(bytes[21], 2);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 24, bytes.begin() + 32),
              (std::vector<std::uint8_t>{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 4, 0}));
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 88, bytes.begin() + 96),
              (std::vector<std::uint8_t>{0xC4, 0x13, 4, 0, 80, 0, 1, 0}));
    EXPECT_EQ(bytes[22], 0xA5);
    EXPECT_EQ(bytes[mme::cfg::kQosWidth - 1], 0x5A);
    const auto decoded = mme::decodeQosArea(bytes);
    EXPECT_EQ(decoded.state, mme::QosAreaState::Valid);
    EXPECT_EQ(decoded.settings, sample());

    // Fewer rules than before: the slots they leave are zero again.
    mme::QosSettings fewer = sample();
    fewer.portRules.pop_back();
    ASSERT_TRUE(mme::encodeQosArea(fewer, bytes));
    EXPECT_EQ(bytes[92], 0);
    EXPECT_EQ(mme::decodeQosArea(bytes).settings, fewer);
}

TEST(QosSettings, LyingBytesAreReadWithinBoundsAndMarkedRepaired) {
    auto bytes = area();
    ASSERT_TRUE(mme::encodeQosArea(sample(), bytes));
    bytes[mme::qos::kVlanMap] = 9;    // no such priority
    bytes[mme::qos::kMacCount] = 200; // more rules than there are places
    bytes[mme::qos::kPortRules] = 0;  // port 0 of the first port rule
    bytes[mme::qos::kPortRules + 1] = 0;
    const auto decoded = mme::decodeQosArea(bytes);
    EXPECT_EQ(decoded.state, mme::QosAreaState::Repaired);
    EXPECT_EQ(decoded.settings.vlanMap[0], QosPriority::Default);
    EXPECT_EQ(decoded.settings.macRules.size(), static_cast<std::size_t>(mme::qos::kMaxRules));
    ASSERT_EQ(decoded.settings.portRules.size(), 1u);
    EXPECT_EQ(decoded.settings.portRules[0].port, 80);
}

TEST(QosSettings, SettingsThatCannotBeStoredAreNotWritten) {
    mme::QosSettings tooMany = sample();
    tooMany.portRules.assign(mme::qos::kMaxRules + 1, {1, QosPriority::Cap1});
    mme::QosSettings portZero = sample();
    portZero.portRules[0].port = 0;
    mme::QosSettings badPriority = sample();
    badPriority.vlanMap[0] = static_cast<QosPriority>(7);
    for (const auto& settings : {tooMany, portZero, badPriority}) {
        auto bytes = area();
        EXPECT_FALSE(mme::encodeQosArea(settings, bytes));
        EXPECT_EQ(bytes, area());
    }
    std::vector<std::uint8_t> shortArea(mme::cfg::kQosWidth - 1);
    EXPECT_FALSE(mme::encodeQosArea(sample(), shortArea));
}
