#include "app/key_change.h"
#include "app/key_change_texts.h"
#include "app/scan_cycle.h"
#include "mme/key_derivation.h"
#include "sim/network.h"
#include "tests/support/simulated_program.h"

#include <gtest/gtest.h>

using namespace zrq406;
using zrq406::test::SimulatedProgram;

namespace {
const std::string kLocal = "00:b0:52:5a:00:01";
const std::string kKitchen = "00:b0:52:5a:00:02";
const std::string kCellar = "00:b0:52:5a:00:03";
const std::string kKitchenPassword = "GTNE-WHFU-YBSK-QCLM";
const std::string kCellarPassword = "PZRA-DJVX-TMQE-HKWB";
const std::string kNewPassword = "OurNetwork42";

// The built-in network with faults on the local device, which forwards every remote key.
nlohmann::json withLocalFaults(const nlohmann::json& faults) {
    auto network = SimulatedProgram::builtInNetwork();
    network["devices"][0]["faults"] = faults;
    return network;
}

nlohmann::json failedKey(int nth, const char* kind = "fail") {
    return {{"kind", kind}, {"message", "set-key"}, {"nth", nth}};
}

// Kitchen (named), Cellar and the local device, as the encryption page lists them.
std::vector<app::KeyTarget> kitchenCellarLocal(const std::string& cellarPassword = kCellarPassword) {
    return app::planKeyChange({{kLocal, "", true, true, ""},
                               {kKitchen, "Kitchen", false, true, kKitchenPassword},
                               {kCellar, "", false, true, cellarPassword}})
        .targets;
}

class KeyChange : public ::testing::Test {
protected:
    void open(const nlohmann::json& network = SimulatedProgram::builtInNetwork()) {
        program = std::make_unique<SimulatedProgram>(network);
        ASSERT_TRUE(program->open());
        ASSERT_GE(app::findLocalDevice(program->session), 0);
    }
    mme::Key keyOf(const std::string& mac) {
        return program->session.network()->device(MacAddress::fromText(mac))->nmk;
    }
    app::KeyChangeOutcome change(const std::vector<app::KeyTarget>& targets) {
        return app::changeNetworkKey(program->session, kNewPassword, targets);
    }
    std::unique_ptr<SimulatedProgram> program;
    const mme::Key newKey = mme::DeriveNmk(kNewPassword);
};

// The message lookup of a test: each text names its key and field.
std::string byName(const std::string& key, const std::string& field) {
    return "<" + key + "/" + field + ">";
}
} // namespace

TEST(KeyChangePlan, KeysRemoteDevicesFirstAndLeavesOutThoseWithoutPassword) {
    const auto plan = app::planKeyChange({{kLocal, "", true, true, ""},
                                          {kKitchen, "Kitchen", false, true, kKitchenPassword},
                                          {kCellar, "", false, true, ""},
                                          {"00:b0:52:5a:00:04", "", false, false, "WMCY-LBKS-FEUG-NATR"}});
    EXPECT_TRUE(plan.anyTicked);
    EXPECT_EQ(plan.withoutPassword, std::vector<std::size_t>{2});
    EXPECT_EQ(plan.deviceTexts(), (std::vector<std::string>{kKitchen, kLocal}));
    EXPECT_TRUE(plan.targets[0].remote);
    EXPECT_EQ(plan.targets[0].name, "Kitchen");
    EXPECT_FALSE(plan.targets[1].remote);
    EXPECT_FALSE(app::planKeyChange({{kLocal, "", true, false, ""}}).anyTicked);
}

TEST_F(KeyChange, AWrongPasswordAnywhereChangesNoKey) {
    open();
    const auto outcome = change(kitchenCellarLocal("AAAA-BBBB-CCCC-DDDD"));
    EXPECT_EQ(outcome.result, app::KeyChangeResult::NotProved);
    for (const std::string& mac : {kLocal, kKitchen, kCellar})
        EXPECT_EQ(keyOf(mac), mme::kDefaultNmk) << mac;
    EXPECT_EQ(outcome.devices[1].trouble, app::KeyTrouble::PasswordRefused);
    EXPECT_EQ(outcome.devices[1].advice, app::KeyAdvice::EnterPassword);
    // Only the device that failed its proof is named, with what to do.
    EXPECT_EQ(app::keyChangeReportText(outcome, byName), "<msg66/Text>\n" + kCellar + ": <msg69/Text> - <msg70/Text>");
}

TEST_F(KeyChange, APassingRefusalHalfWayIsTriedAgain) {
    // Set-key requests at the local device: two proofs, then Kitchen, Cellar (refused once) and the local key.
    open(withLocalFaults(nlohmann::json::array({failedKey(4)})));
    const auto outcome = change(kitchenCellarLocal());
    EXPECT_EQ(outcome.result, app::KeyChangeResult::Done);
    for (const std::string& mac : {kLocal, kKitchen, kCellar})
        EXPECT_EQ(keyOf(mac), newKey) << mac;
    EXPECT_EQ(app::keyChangeReportText(outcome, byName), "");
}

TEST_F(KeyChange, ARefusalThatLastsStopsTheChangeAndSaysWhereEachDeviceIs) {
    open(withLocalFaults(nlohmann::json::array({failedKey(4), failedKey(5)})));
    const auto outcome = change(kitchenCellarLocal());
    EXPECT_EQ(outcome.result, app::KeyChangeResult::Stopped);
    // The local device was not keyed after the refusal: Cellar and this computer still share the old key.
    EXPECT_EQ(keyOf(kKitchen), newKey);
    EXPECT_EQ(keyOf(kCellar), mme::kDefaultNmk);
    EXPECT_EQ(keyOf(kLocal), mme::kDefaultNmk);
    EXPECT_EQ(app::keyChangeReportText(outcome, byName),
              "<msg67/Text>\n" + kKitchen + " (Kitchen): <msg68/Text> - <msg73/Text>\n" + kCellar +
                  ": <msg68/Text2> - <msg72/Text>\n" + kLocal + ": <msg68/Text2> - <msg72/Text>");
}

TEST_F(KeyChange, ADeviceWhoseConfirmationsAreLostIsReportedAsUnknown) {
    // Cellar takes the key but its confirmations never come back; read through the old key it no longer answers.
    open(withLocalFaults(nlohmann::json::array({failedKey(4, "drop"), failedKey(5, "drop")})));
    const auto outcome = change(kitchenCellarLocal());
    EXPECT_EQ(outcome.result, app::KeyChangeResult::Stopped);
    EXPECT_EQ(outcome.devices[1].key, app::DeviceKey::Unknown);
    EXPECT_EQ(outcome.devices[1].advice, app::KeyAdvice::FindOut);
    EXPECT_EQ(outcome.devices[2].key, app::DeviceKey::Old);
    EXPECT_EQ(keyOf(kLocal), mme::kDefaultNmk);
}

TEST_F(KeyChange, TheLocalDeviceReadBackOnTheNewKeyCountsAsKeyed) {
    // The local key's confirmation is lost twice, but its block shows the new key.
    open(withLocalFaults(nlohmann::json::array({failedKey(1, "drop"), failedKey(2, "drop")})));
    const auto outcome = change(app::planKeyChange({{kLocal, "", true, true, ""}}).targets);
    EXPECT_EQ(outcome.result, app::KeyChangeResult::Done);
    EXPECT_EQ(keyOf(kLocal), newKey);
}
