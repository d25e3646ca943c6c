// SPDX-License-Identifier: MIT
// Shared pieces of the program-level tests: a string table whose texts name their entry,
// and frame builders.
#pragma once

#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "core/protocol/message_channel.h"
#include "core/text/text_id.h"

namespace zelto::testing {

using Bytes = std::vector<std::uint8_t>;

// A scratch folder that is removed with the object.
class TempFolder {
 public:
  TempFolder() {
    static int counter = 0;
    path_ = std::filesystem::temp_directory_path() /
            ("zelto-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Every entry 0..64 in Italian "I<n>" and English "E<n>", CR LF ends.
inline std::string NamedStringTable() {
  std::string text;
  for (int n = 0; n <= 64; ++n)
    text += "#STRING " + std::to_string(n) + "\r\nI" + std::to_string(n) + "\r\nE" +
            std::to_string(n) + "\r\n";
  return text;
}

// What NamedStringTable gives for an entry: "I<n>" in Italian, "E<n>" in English.
// (Built by append: the mingw GCC 12 at -O3 takes a literal + a temporary string for an
// overlapping memcpy.)
inline std::string Italian(Text::Id id) {
  return std::string("I").append(std::to_string(static_cast<int>(id)));
}
inline std::string English(Text::Id id) {
  return std::string("E").append(std::to_string(static_cast<int>(id)));
}

inline void WriteFile(const std::filesystem::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << bytes;
}

inline std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The wire bytes of a message, as the programmer sends them.
inline Bytes Wire(std::uint8_t code, const Bytes& payload) {
  std::array<std::uint8_t, kMaxWireFrame> wire{};
  const int n = BuildWireFrame(code, payload.data(), static_cast<std::int16_t>(payload.size()), wire);
  return Bytes(wire.begin(), wire.begin() + n);
}

// An IdentificationReply payload.
inline Bytes IdPayload(int id, const std::string& serial, int hw, int fw) {
  Bytes p = {static_cast<std::uint8_t>(id >> 8), static_cast<std::uint8_t>(id & 0xFF)};
  for (int i = 0; i < 10; ++i) p.push_back(i < static_cast<int>(serial.size()) ? serial[i] : '0');
  p.insert(p.end(), {static_cast<std::uint8_t>(hw >> 8), static_cast<std::uint8_t>(hw & 0xFF),
                     static_cast<std::uint8_t>(fw >> 8), static_cast<std::uint8_t>(fw & 0xFF)});
  return p;
}

}  // namespace zelto::testing

namespace zelto::testing {

struct Msg {
  std::uint8_t code = 0;
  Bytes payload;
  friend bool operator==(const Msg&, const Msg&) = default;
  friend std::ostream& operator<<(std::ostream& os, const Msg& m) {
    os << "{0x" << std::hex << int(m.code) << ":";
    for (auto b : m.payload) os << " " << int(b);
    return os << std::dec << "}";
  }
};

// One whole wire frame back to its message (stuffing removed, checksum dropped).
inline Msg DecodeWire(const Bytes& wire) {
  Bytes body;
  for (std::size_t i = 2; i + 2 < wire.size(); ++i) {
    body.push_back(wire[i]);
    if (wire[i] == 0x01) ++i;
  }
  Msg m;
  if (body.size() >= 3) {
    m.code = body[0];
    m.payload.assign(body.begin() + 1, body.end() - 2);
  }
  return m;
}

}  // namespace zelto::testing
