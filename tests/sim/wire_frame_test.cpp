// The bench's own frame codec: known wire forms, and a decoder that survives any split
// of the stream and any garbage around frames.
#include "sim/wire_frame.h"

#include <gtest/gtest.h>

#include <vector>

namespace zelto::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Encode(std::uint8_t code, const Bytes& payload) {
  WireFrame f;
  EXPECT_TRUE(EncodeFrame(code, payload.data(), payload.size(), f));
  return Bytes(f.bytes.begin(), f.bytes.begin() + static_cast<std::ptrdiff_t>(f.size));
}

struct Decoded {
  std::vector<DecodedFrame> frames;
  int bad_checksum = 0;
  int malformed = 0;
};

Decoded DecodeAll(FrameDecoder& d, const Bytes& wire) {
  Decoded out;
  for (std::uint8_t b : wire) {
    switch (d.Feed(b)) {
      case FrameDecoder::Result::kFrame: out.frames.push_back(d.frame()); break;
      case FrameDecoder::Result::kBadChecksum: ++out.bad_checksum; break;
      case FrameDecoder::Result::kMalformed: ++out.malformed; break;
      case FrameDecoder::Result::kNone: break;
    }
  }
  return out;
}

Bytes PayloadOf(const DecodedFrame& f) {
  return Bytes(f.payload.begin(), f.payload.begin() + static_cast<std::ptrdiff_t>(f.count));
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
    // An identification reply: code, id and a version byte stuffed.
    {0x01,
     {0x01, 0x01, 'S', 'N', '0', '0', '0', '0', '1', '2', '3', '4', 0x01, 0x02, 0x02, 0x00},
     {0x01, 0x02, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x53, 0x4E, 0x30, 0x30, 0x30, 0x30,
      0x31, 0x32, 0x33, 0x34, 0x01, 0x01, 0x02, 0x02, 0x00, 0x02, 0x33, 0x01, 0x03}},
};

TEST(WireFrame, KnownFramesEncodeAndDecodeExactly) {
  for (const KnownFrame& k : kKnown) {
    SCOPED_TRACE(testing::Message() << "code " << int(k.code));
    EXPECT_EQ(Encode(k.code, k.payload), k.wire);
    FrameDecoder d;
    const Decoded got = DecodeAll(d, k.wire);
    ASSERT_EQ(got.frames.size(), 1u);
    EXPECT_EQ(got.frames[0].code, k.code);
    EXPECT_EQ(PayloadOf(got.frames[0]), k.payload);
  }
}

TEST(WireFrame, PayloadLimitIs73) {
  const Bytes big(74, 0x01);
  WireFrame f;
  EXPECT_FALSE(EncodeFrame(0x04, big.data(), big.size(), f));
  EXPECT_EQ(f.size, 0u);
  // The largest frame, all 0x01, is the longest wire form there is.
  ASSERT_TRUE(EncodeFrame(0x01, big.data(), 73, f));
  EXPECT_LE(f.size, kMaxWire);
  FrameDecoder d;
  const Decoded got = DecodeAll(d, Bytes(f.bytes.begin(), f.bytes.begin() + f.size));
  ASSERT_EQ(got.frames.size(), 1u);
  EXPECT_EQ(got.frames[0].count, 73u);
}

TEST(WireFrame, StreamSplitAnywhereDecodesTheSame) {
  Bytes stream;
  for (const KnownFrame& k : kKnown) stream.insert(stream.end(), k.wire.begin(), k.wire.end());
  for (std::size_t chunk : {1u, 2u, 3u, 5u, 7u, 13u, 26u, 27u, 28u}) {
    SCOPED_TRACE(chunk);
    FrameDecoder d;
    std::vector<DecodedFrame> frames;
    for (std::size_t at = 0; at < stream.size(); at += chunk) {
      const Bytes piece(stream.begin() + at, stream.begin() + std::min(stream.size(), at + chunk));
      const Decoded got = DecodeAll(d, piece);
      frames.insert(frames.end(), got.frames.begin(), got.frames.end());
    }
    ASSERT_EQ(frames.size(), std::size(kKnown));
    for (std::size_t i = 0; i < frames.size(); ++i)
      EXPECT_EQ(PayloadOf(frames[i]), kKnown[i].payload);
  }
}

TEST(WireFrame, BrokenInputIsReportedAndTheNextFrameStillDecodes) {
  const Bytes good = Encode(0x02, {});
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
      {"body longer than any frame", [] {
         Bytes b{0x01, 0x02};
         b.insert(b.end(), 80, 0x00);
         b.insert(b.end(), {0x01, 0x03});
         return b;
       }(), 0, 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Bytes stream = r.before;
    stream.insert(stream.end(), good.begin(), good.end());
    FrameDecoder d;
    const Decoded got = DecodeAll(d, stream);
    EXPECT_EQ(got.bad_checksum, r.bad_checksum);
    EXPECT_EQ(got.malformed, r.malformed);
    ASSERT_EQ(got.frames.size(), 1u);
    EXPECT_EQ(got.frames[0].code, 0x02);
  }
}

}  // namespace
}  // namespace zelto::sim
