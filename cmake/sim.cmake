# SPDX-License-Identifier: MIT
# The simulated bench: virtual clock, virtual USB bus, programmer and sensor models. It uses
# only the port headers and its own reading of the wire format, so the core is tested
# against a second implementation and the bench builds whatever state the core is in.
add_library(zelto_sim STATIC
  sim/virtual_clock.cpp
  sim/wire_frame.cpp
  sim/usb_bus.cpp
  sim/duroz740.cpp
  sim/bench.cpp
)
target_include_directories(zelto_sim PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})

zelto_gtest(sim_tests
  SOURCES
    tests/sim/wire_frame_test.cpp
    tests/sim/usb_bus_test.cpp
    tests/sim/faults_test.cpp
    tests/sim/duroz740_test.cpp
  LIBS zelto_sim
)
