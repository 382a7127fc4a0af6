#include "app/device_actions.h"
#include "app/operation_runner.h"
#include "app/scan_cycle.h"
#include "tests/support/simulated_program.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using namespace zrq406;
using zrq406::test::SimulatedProgram;

TEST(OperationRunner, OneLeaseAtATime) {
    app::OperationRunner runner;
    app::OperationLease first = runner.tryBegin();
    ASSERT_TRUE(first);
    EXPECT_TRUE(runner.running());
    EXPECT_FALSE(runner.tryBegin());
    // A lease moved on still holds the runner; the moved-from one ends nothing.
    app::OperationLease moved = std::move(first);
    first.release();
    EXPECT_FALSE(runner.tryBegin());
    moved.release();
    EXPECT_FALSE(runner.running());

    // A waiting request gets the runner once the holder lets it go, never before.
    app::OperationLease held = runner.begin();
    std::atomic<bool> taken{false};
    std::thread waiter([&] {
        const app::OperationLease lease = runner.begin();
        taken = true;
    });
    EXPECT_FALSE(taken);
    held.release();
    waiter.join();
    EXPECT_TRUE(taken);
    EXPECT_FALSE(runner.running());
}

// Two threads that each run a series of exchanges on one session take turns through the runner: no exchange begins
// while the other thread's still waits for its confirmation.
TEST(OperationRunner, OperationsOfTwoThreadsNeverInterleaveTheirExchanges) {
    SimulatedProgram program;
    ASSERT_TRUE(program.open());
    app::Session& session = program.session;
    ASSERT_GE(app::findLocalDevice(session), 0);
    // An absent device lets every exchange wait out its whole deadline.
    const MacAddress absent{{0x00, 0xb0, 0x52, 0x5a, 0x00, 0x99}};
    std::atomic<int> ready{0};
    auto resets = [&] {
        ++ready;
        while (ready < 2)
            std::this_thread::yield();
        for (int i = 0; i < 3; ++i) {
            const app::OperationLease operation = session.runner().begin();
            EXPECT_FALSE(app::resetDevice(session, absent));
            EXPECT_FALSE(app::resetDevice(session, absent));
        }
    };
    std::thread a(resets);
    std::thread b(resets);
    a.join();
    b.join();
    EXPECT_EQ(session.exchange().overlaps(), 0);
}
