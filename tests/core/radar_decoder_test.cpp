// SPDX-License-Identifier: MIT
// The one decoder of the sensor's frames: each reply becomes its typed message, and what
// no front end may act on (a bad checksum, a frame too short for its fields) becomes none.
#include "core/protocol/radar_decoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <vector>

namespace zelto {
namespace {

struct Frame {
  FrameBytes bytes{};
  std::int16_t length = 0;
};

// A stored frame as the assembler leaves it: 01 02, code, payload, checksum, 01 03.
Frame Stored(std::uint8_t code, std::vector<std::uint8_t> payload) {
  std::vector<std::uint8_t> f = {1, 2, code};
  f.insert(f.end(), payload.begin(), payload.end());
  const std::uint32_t sum = std::accumulate(f.begin() + 2, f.end(), 0u);
  f.insert(f.end(),
           {static_cast<std::uint8_t>(sum >> 8), static_cast<std::uint8_t>(sum & 0xFF), 1, 3});
  Frame frame;
  std::copy(f.begin(), f.end(), frame.bytes.begin());
  frame.length = static_cast<std::int16_t>(f.size());
  return frame;
}

RadarMessage Decode(const Frame& f, bool has_height = true) {
  return DecodeRadarFrame(f.bytes, f.length, has_height);
}

TEST(RadarDecoder, IdentificationCarriesTheIdentity) {
  const RadarMessage m = Decode(Stored(IdentificationReply, {0x01, 0x01, 'S', 'N', '0', '0', '0',
                                                             '0', '1', '2', '3', '4', 1, 2, 2, 0}));
  ASSERT_EQ(m.kind, RadarMessageKind::kIdentification);
  EXPECT_EQ(m.identity.id, kDuroz740Id);
  EXPECT_EQ(std::string(m.identity.serial.data(), 10), "SN00001234");
  EXPECT_EQ(m.identity.hw_version, 0x0102);
  EXPECT_EQ(m.identity.fw_version, 0x0200);
}

TEST(RadarDecoder, ParametersCarryEachFieldWithItsValidity) {
  const RadarMessage six = Decode(Stored(ParamsReply, {7, 3, 2, 9, 1, 2}));
  ASSERT_EQ(six.kind, RadarMessageKind::kParameters);
  EXPECT_EQ(six.param_count, 6);
  EXPECT_EQ(six.params.raw[kMainsFilter], 9);
  EXPECT_FALSE(six.params.valid[kMainsFilter]);
  EXPECT_TRUE(six.params.valid[kHeight]);
  EXPECT_EQ(six.params.first_invalid, kMainsFilter);
  EXPECT_EQ(six.params.params.wire[kSensitivity], 7);

  const RadarMessage five = Decode(Stored(ParamsReply, {7, 3, 2, 1, 1}), false);
  ASSERT_EQ(five.kind, RadarMessageKind::kParameters);
  EXPECT_EQ(five.param_count, 5);
  EXPECT_TRUE(five.params.AllValid());
}

TEST(RadarDecoder, AcknowledgementsAndSignal) {
  EXPECT_EQ(Decode(Stored(WriteParamsAck, {})).kind, RadarMessageKind::kWriteAck);
  EXPECT_EQ(Decode(Stored(ReportModeAck, {2})).kind, RadarMessageKind::kReportModeAck);
  const RadarMessage s = Decode(Stored(SignalReport, {2, 0x01, 0x2C, 1}));
  ASSERT_EQ(s.kind, RadarMessageKind::kSignal);
  EXPECT_TRUE(s.signal.is_reading);
  EXPECT_EQ(s.signal.level, 300);
  EXPECT_TRUE(s.signal.detected);
  const RadarMessage other = Decode(Stored(SignalReport, {1, 0x01, 0x2C, 1}));
  EXPECT_EQ(other.kind, RadarMessageKind::kSignal) << "a report of another type";
  EXPECT_FALSE(other.signal.is_reading);
}

TEST(RadarDecoder, WhatNoFrontEndMayActOnIsNoMessage) {
  Frame bad_sum = Stored(WriteParamsAck, {});
  bad_sum.bytes[3] ^= 1;
  EXPECT_EQ(Decode(bad_sum).kind, RadarMessageKind::kNone);
  EXPECT_EQ(Decode(Stored(ParamsReply, {7, 3, 2, 1, 1})).kind, RadarMessageKind::kNone)
      << "five fields from a sensor with the height";
  EXPECT_EQ(Decode(Stored(IdentificationReply, {0x01, 0x01, 'S'})).kind, RadarMessageKind::kNone);
  EXPECT_EQ(Decode(Stored(0x42, {1})).kind, RadarMessageKind::kNone);
}

}  // namespace
}  // namespace zelto
