// SPDX-License-Identifier: MIT
// Found by the soak: a handle whose close failed kept the programmer open in the driver, so
// every later open by description failed. While the radar window was open this cost the
// window; once another adapter had been opened in between, the stale handle was never closed
// again and the program showed a driver failure until the adapter was replugged.
#include <gtest/gtest.h>

#include <memory>

#include "core/program/program.h"
#include "sim/duroz740.h"
#include "sim/usb_bus.h"
#include "sim/virtual_clock.h"
#include "tests/support/fakes.h"
#include "tests/support/test_support.h"

namespace zelto {
namespace {

using namespace zelto::testing;

class LinkRecovery : public ::testing::Test {
 protected:
  LinkRecovery() {
    WriteFile(folder_.path() / "StringTable.txt", NamedStringTable());
    adapter_ = &bus_.Plug();
    adapter_->Attach<sim::Duroz740>("0000000001", 0x0102, 0x0200);
    program_ = std::make_unique<Program>(bus_, clock_, ui_,
                                         ProgramConfig{folder_.path(), {1, 0, 0}});
    program_->Load();
  }

  TempFolder folder_;
  sim::VirtualClock clock_;
  sim::UsbBus bus_{clock_};
  sim::Adapter* adapter_ = nullptr;
  FakeUi ui_;
  std::unique_ptr<Program> program_;
};

// Whatever status the failed close reported: a driver that fails a call may have done
// nothing, whatever it names as the reason.
class FailedClose : public LinkRecovery, public ::testing::WithParamInterface<AdapterStatus> {};

TEST_P(FailedClose, InRadarModeDoesNotCostTheWindow) {
  clock_.AdvanceTo(4000);
  ASSERT_TRUE(ui_.RadarOpen());
  // The next poll's read fails, and so do the close that follows it and its first retry.
  bus_.FailCall(sim::Call::kRead, 1);
  bus_.FailCall(sim::Call::kClose, 2, GetParam());
  ASSERT_TRUE(
      clock_.AdvanceUntil([&] { return bus_.FailedCallCount(sim::Call::kClose) == 2; }, 1000));
  clock_.AdvanceTo(12000);
  EXPECT_EQ(ui_.radars.size(), 1u) << "the window was lost and reopened";
  EXPECT_TRUE(ui_.RadarOpen());
  EXPECT_EQ(program_->Connection().id_miss_count, 0);
}

INSTANTIATE_TEST_SUITE_P(Statuses, FailedClose,
                         ::testing::Values(adapter_status::kIoError, adapter_status::kClosed,
                                           adapter_status::kNotFound));

TEST_F(LinkRecovery, StaleHandleIsClosedEvenAfterAnotherAdapterWasOpened) {
  clock_.AdvanceTo(1600);  // the first supervision tick has opened the link
  ASSERT_TRUE(adapter_->IsOpen());
  // At the 2.0 s tick the close fails, the programmer's description cannot be read and a
  // second programmer is there. The open by description that follows used to land on the
  // second one, the old handle being forgotten while it still held the first.
  bus_.FailCall(sim::Call::kClose, 1);
  adapter_->FailDescription(true);
  sim::Adapter& second = bus_.Plug();
  clock_.AdvanceTo(2000);
  ASSERT_EQ(bus_.FailedCallCount(sim::Call::kClose), 1u);
  // Everything is back to one working programmer.
  adapter_->FailDescription(false);
  bus_.Unplug(second);
  clock_.AdvanceTo(3000);
  EXPECT_EQ(ui_.main.rec.status_prog, Italian(Text::kProgrammerConnected));
  EXPECT_EQ(ui_.main.rec.prog_colour, kGreen);
  clock_.AdvanceTo(8000);
  EXPECT_TRUE(ui_.RadarOpen());
}

}  // namespace
}  // namespace zelto
