// SPDX-License-Identifier: MIT
// The bench's own frame codec: known wire forms, any split of the stream, broken input.
#include "sim/wire_frame.h"

#include <gtest/gtest.h>

#include <vector>

namespace zelto::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Decoded {
  std::vector<DecodedFrame> frames;
  int bad_checksum = 0;
  int malformed = 0;
};

void DecodeInto(FrameDecoder& d, const Bytes& wire, Decoded& out) {
  for (std::uint8_t b : wire) {
    const FrameDecoder::Result r = d.Feed(b);
    if (r == FrameDecoder::Result::kFrame) out.frames.push_back(d.frame());
    out.bad_checksum += r == FrameDecoder::Result::kBadChecksum;
    out.malformed += r == FrameDecoder::Result::kMalformed;
  }
}

struct KnownFrame {
  std::uint8_t code;
  Bytes payload;
  Bytes wire;
};

const KnownFrame kKnown[] = {
    {0x00, {}, {0x01, 0x02, 0x00, 0x00, 0x00, 0x01, 0x03}},
    {0x14, {0x02}, {0x01, 0x02, 0x14, 0x02, 0x00, 0x16, 0x01, 0x03}},
    {0x04, {0x05, 0x01, 0x01, 0x00, 0x00},
     {0x01, 0x02, 0x04, 0x05, 0x01, 0x01, 0x01, 0x01, 0x00, 0x00, 0x00, 0x0B, 0x01, 0x03}},
    // A checksum byte of 0x01 is doubled too.
    {0x04, {0xFF, 0xFE}, {0x01, 0x02, 0x04, 0xFF, 0xFE, 0x02, 0x01, 0x01, 0x01, 0x03}},
    {0x01,
     {0x01, 0x01, 'S', 'N', '0', '0', '0', '0', '1', '2', '3', '4', 0x01, 0x02, 0x02, 0x00},
     {0x01, 0x02, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x53, 0x4E, 0x30, 0x30, 0x30, 0x30,
      0x31, 0x32, 0x33, 0x34, 0x01, 0x01, 0x02, 0x02, 0x00, 0x02, 0x33, 0x01, 0x03}},
};

TEST(WireFrame, KnownFramesEncodeExactlyAndSurviveAnySplit) {
  Bytes stream;
  for (const KnownFrame& k : kKnown) {
    WireFrame f;
    ASSERT_TRUE(EncodeFrame(k.code, k.payload.data(), k.payload.size(), f));
    EXPECT_EQ(Bytes(f.bytes.begin(), f.bytes.begin() + f.size), k.wire) << int(k.code);
    stream.insert(stream.end(), k.wire.begin(), k.wire.end());
  }
  for (std::size_t chunk : {1u, 2u, 3u, 7u, 13u, 26u, 27u, 28u}) {
    SCOPED_TRACE(chunk);
    FrameDecoder d;
    Decoded got;
    for (std::size_t at = 0; at < stream.size(); at += chunk)
      DecodeInto(d, Bytes(stream.begin() + at, stream.begin() + std::min(stream.size(), at + chunk)), got);
    ASSERT_EQ(got.frames.size(), std::size(kKnown));
    for (std::size_t i = 0; i < got.frames.size(); ++i) {
      EXPECT_EQ(got.frames[i].code, kKnown[i].code);
      EXPECT_EQ(Bytes(got.frames[i].payload.begin(), got.frames[i].payload.begin() + got.frames[i].count),
                kKnown[i].payload);
    }
  }
  const Bytes too_long(74, 0x01);
  WireFrame f;
  EXPECT_FALSE(EncodeFrame(0x04, too_long.data(), too_long.size(), f));
}

TEST(WireFrame, BrokenInputIsReportedAndTheNextFrameStillDecodes) {
  Bytes overlong{0x01, 0x02};
  overlong.insert(overlong.end(), 80, 0x00);
  overlong.insert(overlong.end(), {0x01, 0x03});
  struct Row {
    const char* name;
    Bytes before;
    int bad_checksum;
    int malformed;
  };
  const Row rows[] = {
      {"garbage without framing", {0x55, 0x02, 0x03, 0xFF}, 0, 0},
      {"wrong checksum", {0x01, 0x02, 0x02, 0x00, 0x03, 0x01, 0x03}, 1, 0},
      {"end right after start", {0x01, 0x02, 0x01, 0x03}, 0, 1},
      {"unfinished frame cut by a new start", {0x01, 0x02, 0x14, 0x02}, 0, 1},
      {"stray 0x01 pair inside a frame", {0x01, 0x02, 0x14, 0x01, 0x07}, 0, 1},
      {"body longer than any frame", overlong, 0, 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    FrameDecoder d;
    Decoded got;
    DecodeInto(d, r.before, got);
    DecodeInto(d, {0x01, 0x02, 0x02, 0x00, 0x02, 0x01, 0x03}, got);
    EXPECT_EQ(got.bad_checksum, r.bad_checksum);
    EXPECT_EQ(got.malformed, r.malformed);
    ASSERT_EQ(got.frames.size(), 1u);
    EXPECT_EQ(got.frames[0].code, 0x02);
  }
}

}  // namespace
}  // namespace zelto::sim
