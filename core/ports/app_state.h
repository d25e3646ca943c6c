// SPDX-License-Identifier: MIT
// Every program-wide variable in one place. The application owns one AppState and hands it
// by reference to the modules; each test builds a fresh one.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/ports/d2xx_port.h"

namespace zelto {

constexpr int kStringTableSize = 201;  // entries 0..200
constexpr int kRingSize = 2000;        // ring indices 0..1999 are used
constexpr int kFrameBufferSize = 76;
constexpr int kParamCount = 6;

constexpr std::int32_t kDuroz740Id = 257;  // 0x0101
constexpr std::int32_t kHeightFirmware = 0x0200;

// The six radar parameters, in the one order used by messages, LastParams, ListOpen and the
// window.
enum ParamList : int {
  kSensitivity = 0,
  kRelayTime = 1,
  kReactionSpeed = 2,
  kMainsFilter = 3,
  kHighTrafficMode = 4,
  kHeight = 5,
};

struct AppState {
  // Device identity: the answer to the latest identification request.
  std::int32_t DeviceId = 0;
  std::string DeviceSerial;  // 8-bit characters as received
  std::int32_t DeviceHwVersion = 0;
  std::int32_t DeviceFwVersion = 0;
  // Firmware of the Duroz740 that identified itself last. Unlike the identity above it is not
  // cleared before each request, so a parameter reply that arrives between a request and
  // its answer is still judged by the right firmware.
  std::int32_t LastDuroz740FwVersion = 0;
  // Its serial number, kept alike: another serial or firmware in radar mode is another sensor.
  std::string LastDuroz740Serial;

  // Window flow.
  std::int16_t DispatchMode = 0;  // 0 programmer, 1 radar
  bool ExitOnRadarClose = false;
  std::int16_t RadarOpenDelay = 0;  // ms
  std::int32_t ProgrammerStatus = 0;
  bool FirstStatusTick = false;

  // Language.
  std::int16_t LanguageIndex = 0;
  std::array<std::string, kStringTableSize> StringTable;

  // USB link.
  bool LinkOpen = false;
  // Set by every successful open. In radar mode the link is reopened only after it failed,
  // perhaps because the programmer was unplugged and the sensor lost its power.
  bool LinkReopened = false;
  FT_HANDLE DeviceHandle = nullptr;

  // Receive ring and frame assembler. The ring has one element more than it uses.
  std::array<std::uint8_t, kRingSize + 1> RxRing{};
  std::int16_t RxWritePos = 0;
  std::int16_t RxReadPos = 0;
  std::array<std::uint8_t, kFrameBufferSize> FrameBuffer{};
  std::int16_t FrameLength = 0;
  std::int16_t AssemblyIndex = 0;
  bool EscapePending = false;

  // Radar connection; lives as long as the program.
  bool ReadParamsPending = false;
  bool ReportModePending = false;
  std::int16_t IdCheckTicks = 0;
  std::int16_t IdMissCount = 0;
  std::array<std::int16_t, kParamCount> LastParams{};
  std::array<bool, kParamCount> ListOpen{};
  // The parameter bytes of the last ParamsReply as the sensor sent them. A write carries them
  // for every list the user has not picked in, so a field the lists could not take, or did
  // not look at, goes back to the sensor as it was.
  std::array<std::uint8_t, kParamCount> SensorParams{};
  // Per list: the user picked an entry that no acknowledged write has carried yet, and the
  // byte that pick stands for. A pick belongs to the sensor it was made for: it waits out a
  // lost link, missed checks or a closed window, and is dropped only for another sensor.
  std::array<bool, kParamCount> ParamPicked{};
  std::array<std::uint8_t, kParamCount> PickedParams{};
  // The bytes of the last WriteParamsRequest sent (WrittenCount of them; 0: none yet). The
  // sensor's acknowledgement does not say which write it answers, so it is taken for this
  // one, and clears only the picks this one carried.
  std::array<std::uint8_t, kParamCount> WrittenParams{};
  std::int16_t WrittenCount = 0;
  // Connection runs since the sensor last showed it was streaming (a SignalReport, or the
  // acknowledgement of its report mode). A sensor that restarted without losing the link
  // or a check stops streaming and says nothing else.
  std::int16_t SignalQuietRuns = 0;
  // An identification check missed since the parameters were last asked for: the sensor
  // may have been pulled, swapped or restarted meanwhile.
  bool SensorMissed = false;
};

}  // namespace zelto
