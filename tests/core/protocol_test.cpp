// SPDX-License-Identifier: MIT
// Frames on the wire, the frame assembler over the receive ring, the frame check and the
// identification reply.
#include <gtest/gtest.h>

#include <numeric>

#include "core/protocol/message_channel.h"
#include "core/protocol/programmer_messages.h"
#include "tests/support/fakes.h"

namespace zelto {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::ScriptedDriver;

struct SendCase {
  const char* name;
  std::uint8_t code;
  Bytes payload;
  Bytes wire;
};
void PrintTo(const SendCase& c, std::ostream* os) {
  *os << c.name;
}

class SendMessageTest : public ::testing::TestWithParam<SendCase> {};

TEST_P(SendMessageTest, WritesExactlyTheStuffedFrameInOneWrite) {
  const SendCase& c = GetParam();
  ScriptedDriver driver;
  driver.devices = {"ZeltoProg"};
  UsbLink link(driver);
  MessageChannel msg(link);
  msg.SendMessage(c.code, c.payload.data(), static_cast<std::int16_t>(c.payload.size()));
  ASSERT_EQ(driver.writes.size(), 1u);
  EXPECT_EQ(driver.writes[0], c.wire);
  EXPECT_TRUE(link.IsOpen()) << "sending opens a closed link itself";
}

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, SendMessageTest,
    ::testing::Values(
        SendCase{"Identification", 0x00, {}, {0x01, 0x02, 0x00, 0x00, 0x00, 0x01, 0x03}},
        SendCase{"ReportMode2", 0x14, {0x02}, {0x01, 0x02, 0x14, 0x02, 0x00, 0x16, 0x01, 0x03}},
        SendCase{
            "WriteWithStuffedPayload",
            0x04,
            {0x05, 0x01, 0x01, 0x00, 0x00},
            {0x01, 0x02, 0x04, 0x05, 0x01, 0x01, 0x01, 0x01, 0x00, 0x00, 0x00, 0x0B, 0x01, 0x03}},
        SendCase{"StuffedChecksumByte",
                 0x04,
                 {0xFF, 0xFE},
                 {0x01, 0x02, 0x04, 0xFF, 0xFE, 0x02, 0x01, 0x01, 0x01, 0x03}},
        SendCase{"StuffedCodeOnly2And3NotDoubled",
                 0x01,
                 {0x02, 0x03},
                 {0x01, 0x02, 0x01, 0x01, 0x02, 0x03, 0x00, 0x06, 0x01, 0x03}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SendMessage, LargestPayloadFitsAndLongerOnesAreNotSent) {
  ScriptedDriver driver;
  driver.devices = {"ZeltoProg"};
  UsbLink link(driver);
  MessageChannel msg(link);
  Bytes payload(80, 0x01);  // every byte stuffed: the longest possible wire frame
  msg.SendMessage(0x01, payload.data(), 73);
  ASSERT_EQ(driver.writes.size(), 1u);
  // 2 + (1 code + 73 payload) doubled + 2 checksum bytes (0x00 0x4A) + 2.
  EXPECT_EQ(driver.writes[0].size(), 2u + 74 * 2 + 2 + 2);
  msg.SendMessage(0x01, payload.data(), 74);
  msg.SendMessage(0x01, payload.data(), -1);
  EXPECT_EQ(driver.writes.size(), 1u);
}

TEST(SendMessage, NoProgrammerSendsNothing) {
  ScriptedDriver driver;
  UsbLink link(driver);
  MessageChannel msg(link);
  msg.SendMessage(0x00, nullptr, 0);
  EXPECT_TRUE(driver.writes.empty());
  EXPECT_EQ(driver.calls["Purge"], 0);
}

TEST(SendMessage, FailedOrShortWriteClosesTheLink) {
  for (bool short_write : {false, true}) {
    ScriptedDriver driver;
    driver.devices = {"ZeltoProg"};
    if (short_write)
      driver.short_write = 3;
    else
      driver.write_status = adapter_status::kIoError;
    UsbLink link(driver);
    MessageChannel msg(link);
    msg.SendMessage(0x00, nullptr, 0);
    EXPECT_FALSE(link.IsOpen()) << short_write;
    EXPECT_EQ(driver.calls["Close"], 1) << short_write;
  }
}

TEST(Checksum, SendingAndReceivedRanges) {
  const std::uint8_t body[] = {0x04, 0xFF, 0xFE};
  EXPECT_EQ(BodyChecksum(body, 3), 0x201u);
  EXPECT_EQ(BodyChecksum(body, 0), 0u);
  const std::uint8_t frame[] = {0x01, 0x02, 0x04, 0x01, 0x03, 0x00, 0x08, 0x01, 0x03};
  EXPECT_EQ(ReceivedFrameChecksum(frame, 9), 8u) << "start pair, checksum and end left out";
  const std::uint8_t smallest[] = {0x01, 0x02, 0x01, 0x03};
  EXPECT_EQ(ReceivedFrameChecksum(smallest, 4), 0u);
  // The largest body sums to 74 x 255 without wrapping.
  Bytes all(74, 0xFF);
  EXPECT_EQ(BodyChecksum(all.data(), 74), 18870u);
}

// Feeds bytes into the ring as Read would and collects every completed frame.
class Assembler {
 public:
  Assembler() : link_(driver_), channel_(link_) {}

  void Push(const Bytes& bytes) {
    for (std::uint8_t b : bytes) {
      ring.bytes[ring.write_pos] = b;
      ring.write_pos = (ring.write_pos + 1) % kRingSize;
    }
  }
  std::vector<Bytes> Drain() {
    std::vector<Bytes> frames;
    while (channel_.AssembleFrame())
      frames.emplace_back(assembly.frame.begin(), assembly.frame.begin() + assembly.length);
    return frames;
  }
  MessageChannel& msg() { return channel_; }

 private:
  ScriptedDriver driver_;
  UsbLink link_;
  MessageChannel channel_;

 public:
  ReceiveRing& ring = channel_.Ring();
  const FrameAssembly& assembly = channel_.Assembly();
};

struct AssembleCase {
  const char* name;
  Bytes input;
  std::vector<Bytes> frames;
};
void PrintTo(const AssembleCase& c, std::ostream* os) {
  *os << c.name;
}

class AssembleTest : public ::testing::TestWithParam<AssembleCase> {};

TEST_P(AssembleTest, WholeInput) {
  Assembler a;
  a.Push(GetParam().input);
  EXPECT_EQ(a.Drain(), GetParam().frames);
}

// The same stream cut into two reads at every possible point gives the same frames.
TEST_P(AssembleTest, SplitAtEveryPoint) {
  const Bytes& in = GetParam().input;
  for (std::size_t cut = 0; cut <= in.size(); ++cut) {
    Assembler a;
    a.Push(Bytes(in.begin(), in.begin() + cut));
    auto frames = a.Drain();
    a.Push(Bytes(in.begin() + cut, in.end()));
    auto rest = a.Drain();
    frames.insert(frames.end(), rest.begin(), rest.end());
    EXPECT_EQ(frames, GetParam().frames) << "cut at " << cut;
  }
}

// And the same stream placed across the ring's wrap point, at every offset.
TEST_P(AssembleTest, AcrossTheWrapPoint) {
  const Bytes& in = GetParam().input;
  for (std::size_t before = 0; before <= in.size(); ++before) {
    Assembler a;
    a.ring.read_pos = a.ring.write_pos = (kRingSize - before) % kRingSize;
    a.Push(in);
    EXPECT_EQ(a.Drain(), GetParam().frames) << before << " bytes before the wrap";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Streams, AssembleTest,
    ::testing::Values(
        AssembleCase{"Plain", {1, 2, 0, 0, 0, 1, 3}, {{1, 2, 0, 0, 0, 1, 3}}},
        AssembleCase{
            "StuffedPayload", {1, 2, 4, 1, 1, 3, 0, 8, 1, 3}, {{1, 2, 4, 1, 3, 0, 8, 1, 3}}},
        AssembleCase{"LeadingNoise", {0, 0xFF, 3, 1, 2, 0, 0, 0, 1, 3}, {{1, 2, 0, 0, 0, 1, 3}}},
        AssembleCase{"RunOfStartBytes", {1, 1, 1, 2, 0, 0, 0, 1, 3}, {{1, 2, 0, 0, 0, 1, 3}}},
        AssembleCase{"UnpairedEscapeAbandons", {1, 2, 5, 1, 7, 9, 1, 3}, {}},
        AssembleCase{"AbandonedThenNext",
                     {1, 2, 5, 1, 7, 1, 2, 0x14, 0, 0, 0x14, 1, 3},
                     {{1, 2, 0x14, 0, 0, 0x14, 1, 3}}},
        AssembleCase{"StartInsideRestarts",
                     {1, 2, 9, 9, 1, 2, 0x15, 0, 0, 0x15, 1, 3},
                     {{1, 2, 0x15, 0, 0, 0x15, 1, 3}}},
        AssembleCase{"StartSeenThenOther", {1, 5, 1, 2, 0, 0, 0, 1, 3}, {{1, 2, 0, 0, 0, 1, 3}}},
        AssembleCase{"TwoFramesBackToBack",
                     {1, 2, 0, 0, 0, 1, 3, 1, 2, 0x15, 0, 0, 0x15, 1, 3},
                     {{1, 2, 0, 0, 0, 1, 3}, {1, 2, 0x15, 0, 0, 0x15, 1, 3}}},
        AssembleCase{"SmallestFrame", {1, 2, 1, 3}, {{1, 2, 1, 3}}},
        AssembleCase{
            "Identification27",
            {0x01, 0x02, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x53, 0x4E, 0x30, 0x30, 0x30, 0x30,
             0x31, 0x32, 0x33, 0x34, 0x01, 0x01, 0x02, 0x02, 0x00, 0x02, 0x33, 0x01, 0x03},
            {{0x01, 0x02, 0x01, 0x01, 0x01, 0x53, 0x4E, 0x30, 0x30, 0x30, 0x30, 0x31,
              0x32, 0x33, 0x34, 0x01, 0x02, 0x02, 0x00, 0x02, 0x33, 0x01, 0x03}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AssembleFrame, ReadPositionStaysOnTheTerminator) {
  Assembler a;
  a.Push({1, 2, 0, 0, 0, 1, 3});
  ASSERT_TRUE(a.msg().AssembleFrame());
  EXPECT_EQ(a.ring.read_pos, 6);
  EXPECT_EQ(a.assembly.length, 7);
  EXPECT_FALSE(a.msg().AssembleFrame());
  EXPECT_EQ(a.ring.read_pos, 7);
}

TEST(AssembleFrame, PartialFrameWaitsForMoreBytes) {
  Assembler a;
  a.Push({1, 2, 0x14, 1});
  EXPECT_FALSE(a.msg().AssembleFrame());
  EXPECT_EQ(a.assembly.index, 4);
  EXPECT_TRUE(a.assembly.escape_pending);
  a.Push({1, 0, 0x15, 1, 3});
  ASSERT_TRUE(a.msg().AssembleFrame());
  EXPECT_EQ(Bytes(a.assembly.frame.begin(), a.assembly.frame.begin() + 8),
            (Bytes{1, 2, 0x14, 1, 0, 0x15, 1, 3}));
}

TEST(AssembleFrame, LongFrameIsCutAtSeventyThreeBytes) {
  // A body of 80 bytes: the first 73 stored bytes stay, the terminator lands at index 73.
  Bytes wire = {1, 2};
  for (int i = 0; i < 80; ++i) wire.push_back(static_cast<std::uint8_t>(0x10 + i));
  wire.push_back(1);
  wire.push_back(3);
  Assembler a;
  a.Push(wire);
  auto frames = a.Drain();
  ASSERT_EQ(frames.size(), 1u);
  ASSERT_EQ(frames[0].size(), 74u);
  EXPECT_EQ(frames[0][72], 0x10 + 70);
  EXPECT_EQ(frames[0][73], 3);
  EXPECT_LE(a.assembly.length, kFrameBufferSize);
}

TEST(AssembleFrame, LongestWholeFrameHasSeventyByteBody) {
  Bytes body(67, 0x20);
  body.insert(body.begin(), 0x06);
  const std::uint32_t sum = std::accumulate(body.begin(), body.end(), 0u);
  body.push_back(static_cast<std::uint8_t>(sum >> 8));
  body.push_back(static_cast<std::uint8_t>(sum & 0xFF));
  ASSERT_EQ(body.size(), 70u);
  Bytes wire = {1, 2};
  wire.insert(wire.end(), body.begin(), body.end());
  wire.insert(wire.end(), {1, 3});
  Assembler a;
  a.Push(wire);
  ASSERT_TRUE(a.msg().AssembleFrame());
  EXPECT_EQ(a.assembly.length, 74);
  EXPECT_TRUE(FrameCheck(a.assembly.frame, a.assembly.length));
}

TEST(FrameCheck, ComparesCarriedWithComputedSum) {
  FrameBytes f{};
  const Bytes good = {1, 2, 4, 1, 3, 0, 8, 1, 3};
  std::copy(good.begin(), good.end(), f.begin());
  EXPECT_TRUE(FrameCheck(f, 9));
  f[6] = 9;
  EXPECT_FALSE(FrameCheck(f, 9));
  const Bytes smallest = {1, 2, 1, 3};
  std::copy(smallest.begin(), smallest.end(), f.begin());
  EXPECT_FALSE(FrameCheck(f, 4)) << "0 computed against 0x0102 carried";
  EXPECT_FALSE(FrameCheck(f, 3));
  EXPECT_FALSE(FrameCheck(f, 77));
}

FrameBytes ToFrame(const Bytes& bytes) {
  FrameBytes f{};
  std::copy(bytes.begin(), bytes.end(), f.begin());
  return f;
}

const Bytes kIdFrame = {0x01, 0x02, 0x01, 0x01, 0x01, 0x53, 0x4E, 0x30, 0x30, 0x30, 0x30, 0x31,
                        0x32, 0x33, 0x34, 0x01, 0x02, 0x02, 0x00, 0x02, 0x33, 0x01, 0x03};

TEST(HandleProgrammerFrame, IdentificationReplySetsTheIdentity) {
  SensorIdentity sensor;
  HandleProgrammerFrame(sensor, ToFrame(kIdFrame), 23);
  EXPECT_EQ(sensor.id, 257);
  EXPECT_EQ(sensor.serial, "SN00001234");
  EXPECT_EQ(sensor.hw_version, 0x0102);
  EXPECT_EQ(sensor.fw_version, 0x0200);
  EXPECT_EQ(FormatVersion(sensor.hw_version), "102");
  EXPECT_EQ(FormatVersion(sensor.fw_version), "200");
}

TEST(HandleProgrammerFrame, IgnoredFrames) {
  struct Row {
    const char* name;
    Bytes frame;
  };
  Bytes bad_sum = kIdFrame;
  bad_sum[20] ^= 1;
  Bytes other_code = kIdFrame;
  other_code[2] = 0x03;
  other_code[20] += 2;
  const Row rows[] = {
      {"BadChecksum", bad_sum}, {"OtherCode", other_code}, {"Short", {1, 2, 1, 0, 1, 1, 3}}};
  for (const Row& row : rows) {
    SensorIdentity sensor;
    // An earlier, longer frame left a whole identity in the buffer.
    FrameBytes f = ToFrame(kIdFrame);
    std::copy(row.frame.begin(), row.frame.end(), f.begin());
    HandleProgrammerFrame(sensor, f, static_cast<std::int16_t>(row.frame.size()));
    EXPECT_EQ(sensor.id, 0) << row.name;
    EXPECT_EQ(sensor.serial, "") << row.name;
  }
}

// Appends the checksum (the sum of everything after the 01 02 start) and the 01 03 end.
void CloseFrame(Bytes& f) {
  const std::uint32_t sum = std::accumulate(f.begin() + 2, f.end(), 0u);
  f.push_back(static_cast<std::uint8_t>(sum >> 8));
  f.push_back(static_cast<std::uint8_t>(sum & 0xFF));
  f.insert(f.end(), {1, 3});
}

// A firmware that appends bytes to its identification keeps the fields at their places.
TEST(HandleProgrammerFrame, LongerReplyIsRead) {
  Bytes f = {1, 2, 1, 1, 1, 'S', 'N', '0', '0', '0', '0', '0', '0', '4', '2', 1, 2, 2, 1, 9};
  CloseFrame(f);
  SensorIdentity sensor;
  HandleProgrammerFrame(sensor, ToFrame(f), static_cast<std::int16_t>(f.size()));
  EXPECT_EQ(sensor.id, 257);
  EXPECT_EQ(sensor.serial, "SN00000042");
  EXPECT_EQ(sensor.fw_version, 0x0201);
}

TEST(HandleProgrammerFrame, SerialKeepsZeroBytes) {
  Bytes f = {1, 2, 1, 0, 5, 'A', 0, 'B', 0, 0, 0, 0, 0, 0, 'Z', 0, 1, 0, 1};
  CloseFrame(f);
  SensorIdentity sensor;
  HandleProgrammerFrame(sensor, ToFrame(f), 23);
  EXPECT_EQ(sensor.id, 5);
  EXPECT_EQ(sensor.serial, std::string("A\0B\0\0\0\0\0\0Z", 10));
}

TEST(FormatVersion, Examples) {
  const std::pair<std::int32_t, const char*> rows[] = {
      {0x0102, "102"}, {0x0200, "200"}, {0x010A, "10A"},  {0x1234, "1234"},
      {0, "000"},      {0x00FF, "0FF"}, {0xFFFF, "FFFF"}, {0x0A0B, "A0B"}};
  for (auto [v, text] : rows) EXPECT_EQ(FormatVersion(v), text) << v;
}

}  // namespace
}  // namespace zelto
