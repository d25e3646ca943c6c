# SPDX-License-Identifier: MIT
# Cross builds: CLI11 and nlohmann-json are header-only, so the build machine's Debian
# packages serve any target. Only their own folders are put on the include path, never the
# rest of the build machine's /usr/include.
set(ZELTO_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${ZELTO_HOST_HEADERS})
foreach(_zelto_dir CLI nlohmann)
  if(NOT EXISTS /usr/include/${_zelto_dir})
    message(FATAL_ERROR "/usr/include/${_zelto_dir} is missing (libcli11-dev, nlohmann-json3-dev)")
  endif()
  file(CREATE_LINK /usr/include/${_zelto_dir} ${ZELTO_HOST_HEADERS}/${_zelto_dir} SYMBOLIC)
endforeach()
if(NOT TARGET nlohmann_json::nlohmann_json)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${ZELTO_HOST_HEADERS})
endif()
set(ZELTO_CLI11_INCLUDE ${ZELTO_HOST_HEADERS} CACHE PATH "CLI11's headers" FORCE)
