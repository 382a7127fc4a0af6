#include "app/upgrade_images.h"
#include "app/upgrade_search.h"
#include "mme/key_derivation.h"
#include "mme/upgrade_file.h"
#include "sim/config_block.h"
#include "sim/firmware_image.h"
#include "tests/support/simulated_program.h"

#include <fstream>
#include <gtest/gtest.h>

using namespace zrq406;

namespace {

constexpr char kTarget[] = "3-3-3348-00-2764";

void writeUpgradeFile(const std::filesystem::path& path, const std::string& version,
                      const std::string& model = "ZRQ406") {
    const auto bytes = mme::packUpgradeFile(sim::makeFirmwareImage("ZRQPLC1-MAC-" + version, 2048),
                                            sim::makeConfigBlock({}), version, "TALVERN", model);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool queued(std::string_view product, std::string_view firmware, const app::FirmwareThresholds& thresholds) {
    const auto check = app::checkModel(product, firmware, mme::kDefaultNmk, "TALVERN ZRQ406");
    return app::needsUpgrade(check, app::compareFirmware(firmware, kTarget), thresholds);
}

} // namespace

TEST(UpgradeSearch, QueueDecisionComparesTheFirmwarePartAndTheImagesBuilds) {
    // The platform word in front and the region and build behind do not take part in the comparison.
    EXPECT_LT(app::compareFirmware("ZRQPLC1-MAC-3-3-3348-00-2400-CE-0511", kTarget), 0);
    EXPECT_EQ(app::compareFirmware("ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712", kTarget), 0);
    EXPECT_GT(app::compareFirmware("ZRQPLC1-MAC-3-3-3348-00-2800-NA-0100", kTarget), 0);
    EXPECT_GT(app::compareFirmware("1234567-MAC-3-4-0-0-1", kTarget), 0);
    EXPECT_LT(app::compareFirmware("ZRQPLC1-MAC-3-3", kTarget), 0);

    const app::FirmwareThresholds none;
    const app::FirmwareThresholds ce800{800, 0};
    // Older firmware is queued; current firmware only when an image of its region has a newer build.
    EXPECT_TRUE(queued("TALVERN ZRQ406-CE-12", "ZRQPLC1-MAC-3-3-3348-00-2400-CE-0511", none));
    EXPECT_FALSE(queued("TALVERN ZRQ406-CE-12", "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712", none));
    EXPECT_TRUE(queued("TALVERN ZRQ406-CE-12", "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712", ce800));
    EXPECT_FALSE(queued("TALVERN ZRQ406-CE-12", "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0800", ce800));
    EXPECT_FALSE(queued("TALVERN ZRQ406-NA-12", "ZRQPLC1-MAC-3-3-3348-00-2764-NA-0712", ce800));
    // Without a region marker only older firmware counts; another model never.
    EXPECT_TRUE(queued("TALVERN ZRQ406", "ZRQPLC1-MAC-3-3-3348-00-2400", ce800));
    EXPECT_FALSE(queued("TALVERN ZRQ406", "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0100", ce800));
    EXPECT_FALSE(queued("OTHER ZRQ406-CE-12", "ZRQPLC1-MAC-3-3-3348-00-2400-CE-0511", ce800));

    mme::Key privateKey = mme::kDefaultNmk;
    privateKey[0] ^= 1;
    EXPECT_TRUE(app::checkModel("TALVERN ZRQ406-CE-12", "", privateKey, "TALVERN ZRQ406").keyChanged);
    EXPECT_FALSE(app::checkModel("TALVERN ZRQ406-CE-12", "", mme::kDefaultNmk, "TALVERN ZRQ406").keyChanged);
}

TEST(UpgradeImages, TenImagesOfTheModelAtMostWithTheHighestBuildPerRegion) {
    test::SimulatedProgram program;
    std::vector<std::filesystem::path> files;
    auto add = [&](const std::string& name, const std::string& version, const std::string& model = "ZRQ406") {
        files.push_back(program.path(name));
        writeUpgradeFile(files.back(), version, model);
    };
    add("a.bin", "3-3-3348-00-2764-NA-0750");
    add("b.bin", "3-3-3348-00-2764-CE-0800", "OTHER");
    add("c.bin", "3-3-3348-00-2764");
    for (int i = 0; i < 9; ++i)
        add("d" + std::to_string(i) + ".bin", "3-3-3348-00-2764-CE-070" + std::to_string(i));
    add("e.bin", "3-3-3348-00-2764-CE-0900"); // the eleventh valid image: ignored

    const auto table = app::UpgradeImageTable::build(files, "TALVERN ZRQ406");
    ASSERT_EQ(table.images().size(), 10u);
    EXPECT_EQ(table.thresholds().highestNa, 750);
    EXPECT_EQ(table.thresholds().highestCe, 708);
    EXPECT_EQ(table.imageFor(1, "fallback.bin"), program.path("d0.bin"));
    EXPECT_EQ(table.imageFor(2, "fallback.bin"), program.path("a.bin"));
    EXPECT_EQ(table.imageFor(0, "fallback.bin"), "fallback.bin");
}

// The search reads every device of the network and queues them in the network's order, the local device first;
// with a second host answering as the attached device it queues nothing and names both.
TEST(UpgradeSearch, QueuesTheNetworkInOrderAndStopsAtTwoAttachedDevices) {
    const app::FirmwareThresholds builds800{800, 800};
    app::UpgradeSearchSettings settings;
    {
        test::SimulatedProgram program(test::SimulatedProgram::builtInNetwork(), "EnglishUpgrade.xml",
                                       link::LinkMode::UpgradeTool);
        ASSERT_TRUE(program.open());
        app::UpgradeQueue queue;
        const auto outcome = app::searchUpgradeDevices(program.session, queue, settings, builds800);
        EXPECT_EQ(outcome.result, app::SearchResult::Found);
        ASSERT_EQ(queue.size(), 4);
        EXPECT_TRUE(queue.devices()[0].isLocal);
        for (std::size_t i = 0; i < 4; ++i)
            EXPECT_EQ(queue.devices()[i].mac, "00:b0:52:5a:00:0" + std::to_string(i + 1));
    }
    auto network = test::SimulatedProgram::builtInNetwork();
    network["hostAdapters"][0]["impostors"] = {"02:66:77:88:99:aa"};
    test::SimulatedProgram program(network, "EnglishUpgrade.xml", link::LinkMode::UpgradeTool);
    ASSERT_TRUE(program.open());
    app::UpgradeQueue queue;
    const auto outcome = app::searchUpgradeDevices(program.session, queue, settings, builds800);
    EXPECT_EQ(outcome.result, app::SearchResult::LocalConflict);
    EXPECT_TRUE(queue.empty());
    EXPECT_NE(outcome.conflict.find("00:b0:52:5a:00:01"), std::string::npos) << outcome.conflict;
    EXPECT_NE(outcome.conflict.find("02:66:77:88:99:aa"), std::string::npos) << outcome.conflict;
}
