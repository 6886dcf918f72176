# Chooses between the platform's own libraries (found on CMAKE_PREFIX_PATH, as
# on a device build) and the bundled ones. Either way the rest of the project
# links the targets platform::ubox, platform::ubus, platform::blobmsg_json,
# platform::uci and platform::swconfig, and runs the bus daemon and tool named
# by WLC_UBUSD_PROGRAM and WLC_UBUS_PROGRAM (paths or generator expressions).

# The only way C++ reaches the platform's C headers: the wrappers under
# wlc/c/, which give them C linkage.
add_library(platform_c INTERFACE)
target_include_directories(platform_c INTERFACE ${CMAKE_SOURCE_DIR}/platform/cxx/include)

set(WLC_PLATFORM_LIBS ubox ubus blobmsg_json uci)
set(WLC_REAL_PLATFORM ON)
foreach(lib IN LISTS WLC_PLATFORM_LIBS)
  find_library(WLC_REAL_${lib} NAMES ${lib} NO_CACHE)
  if(NOT WLC_REAL_${lib})
    set(WLC_REAL_PLATFORM OFF)
  endif()
endforeach()
find_path(WLC_REAL_UBUS_INCLUDE libubus.h NO_CACHE)
find_path(WLC_REAL_UBOX_INCLUDE libubox/uloop.h NO_CACHE)
find_path(WLC_REAL_UCI_INCLUDE uci.h NO_CACHE)
if(NOT WLC_REAL_UBUS_INCLUDE OR NOT WLC_REAL_UBOX_INCLUDE OR NOT WLC_REAL_UCI_INCLUDE)
  set(WLC_REAL_PLATFORM OFF)
endif()

# platform_import(NAME LOCATION INCLUDES LINKS): one of the platform's libraries.
function(platform_import name location includes links)
  add_library(platform::${name} UNKNOWN IMPORTED GLOBAL)
  set_target_properties(platform::${name} PROPERTIES
    IMPORTED_LOCATION "${location}"
    INTERFACE_INCLUDE_DIRECTORIES "${includes}"
    INTERFACE_LINK_LIBRARIES "platform_c;${links}")
endfunction()

if(WLC_REAL_PLATFORM AND NOT WLC_OWN_PLATFORM)
  message(STATUS "Using the platform's libubox, libubus, libblobmsg_json and libuci")
  set(incs "${WLC_REAL_UBUS_INCLUDE};${WLC_REAL_UBOX_INCLUDE};${WLC_REAL_UCI_INCLUDE}")
  platform_import(ubox "${WLC_REAL_ubox}" "${incs}" "")
  platform_import(ubus "${WLC_REAL_ubus}" "${incs}" "platform::ubox")
  platform_import(blobmsg_json "${WLC_REAL_blobmsg_json}" "${incs}" "platform::ubox;PkgConfig::JSONC")
  platform_import(uci "${WLC_REAL_uci}" "${incs}" "platform::ubox")
  set(WLC_BUNDLED_PLATFORM OFF)
  # The tests and the main job run the platform's own bus daemon and tool.
  find_program(WLC_REAL_UBUSD ubusd NO_CACHE)
  find_program(WLC_REAL_UBUS ubus NO_CACHE)
  if(WLC_TESTS AND (NOT WLC_REAL_UBUSD OR NOT WLC_REAL_UBUS))
    message(FATAL_ERROR "The platform's ubusd and ubus were not found on CMAKE_PREFIX_PATH")
  endif()
  set(WLC_UBUSD_PROGRAM "${WLC_REAL_UBUSD}")
  set(WLC_UBUS_PROGRAM "${WLC_REAL_UBUS}")
else()
  message(STATUS "Using the bundled platform libraries")
  set(WLC_BUNDLED_PLATFORM ON)
  set(WLC_UBUSD_PROGRAM "$<TARGET_FILE:ubusd>")
  set(WLC_UBUS_PROGRAM "$<TARGET_FILE:ubus_cli>")
endif()

# libswconfig comes with the platform on a device that has a switch; where the
# platform has none, the bundled one (backed by the simulated switch) is used.
set(WLC_BUNDLED_SWCONFIG ON)
if(NOT WLC_BUNDLED_PLATFORM)
  find_library(WLC_REAL_swconfig NAMES swconfig NO_CACHE)
  find_path(WLC_REAL_SWLIB_INCLUDE swlib.h NO_CACHE)
  if(WLC_REAL_swconfig AND WLC_REAL_SWLIB_INCLUDE)
    message(STATUS "Using the platform's libswconfig")
    platform_import(swconfig "${WLC_REAL_swconfig}" "${WLC_REAL_SWLIB_INCLUDE}" "")
    set(WLC_BUNDLED_SWCONFIG OFF)
  endif()
endif()
