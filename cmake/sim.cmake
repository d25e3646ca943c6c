# The simulated bench: virtual clock, virtual USB bus, programmer and sensor models.
add_library(zelto_sim STATIC
  sim/virtual_clock.cpp
)
target_link_libraries(zelto_sim PUBLIC zelto_core)
