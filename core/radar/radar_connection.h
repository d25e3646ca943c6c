// SPDX-License-Identifier: MIT
// What the radar logic keeps of its conversation with the sensor for the whole run, across
// openings of the radar window: what is asked and awaited, the sensor's parameter bytes,
// the user's picks and the last write.
#pragma once

#include <array>
#include <cstdint>

#include "core/link/usb_link.h"
#include "core/ports/param_list.h"
#include "core/protocol/sensor_identity.h"

namespace zelto {

struct RadarConnection {
  RadarConnection(SensorIdentity& identity_in, UsbLink& link_in)
      : identity(identity_in), link(link_in) {}
  RadarConnection(const RadarConnection&) = delete;
  RadarConnection& operator=(const RadarConnection&) = delete;

  // Who answers the identification checks, and the link, whose reopened flag is cleared
  // once the sensor is read again over the new connection.
  SensorIdentity& identity;
  UsbLink& link;

  bool read_params_pending = false;
  bool report_mode_pending = false;
  int id_check_ticks = 0;
  int id_miss_count = 0;
  // Per list: the position the sensor's last parameter reply gave.
  std::array<int, kParamCount> last_params{};
  std::array<bool, kParamCount> list_open{};
  // The parameter bytes of the last parameter reply as the sensor sent them. A write carries
  // them for every list the user has not picked in, so a field the lists could not take, or
  // did not look at, goes back to the sensor as it was.
  std::array<std::uint8_t, kParamCount> sensor_bytes{};
  // Per list: the user picked an entry that no acknowledged write has carried yet, and the
  // byte that pick stands for. A pick belongs to the sensor it was made for: it waits out a
  // lost link, missed checks or a closed window, and is dropped only for another sensor.
  std::array<bool, kParamCount> picked{};
  std::array<std::uint8_t, kParamCount> picked_bytes{};
  // The bytes of the last parameter write sent (written_count of them; 0: none yet). The
  // sensor's acknowledgement does not say which write it answers, so it is taken for this
  // one, and clears only the picks this one carried.
  std::array<std::uint8_t, kParamCount> written_bytes{};
  int written_count = 0;
  // Connection runs since the sensor last showed it was streaming (a signal report, or the
  // acknowledgement of its report mode). A sensor that restarted without losing the link
  // or a check stops streaming and says nothing else.
  int signal_quiet_runs = 0;
  // An identification check missed since the parameters were last asked for: the sensor
  // may have been pulled, swapped or restarted meanwhile.
  bool sensor_missed = false;
};

}  // namespace zelto
