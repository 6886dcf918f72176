# Chooses between the platform's own libraries (found on CMAKE_PREFIX_PATH, as
# on a device build) and the bundled ones. Either way the rest of the project
# links the targets platform::ubox, platform::ubus, platform::blobmsg_json and
# platform::uci.

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
if(NOT WLC_REAL_UBUS_INCLUDE OR NOT WLC_REAL_UBOX_INCLUDE)
  set(WLC_REAL_PLATFORM OFF)
endif()

if(WLC_REAL_PLATFORM AND NOT WLC_OWN_PLATFORM)
  message(STATUS "Using the platform's libubox, libubus, libblobmsg_json and libuci")
  foreach(lib IN LISTS WLC_PLATFORM_LIBS)
    add_library(platform::${lib} UNKNOWN IMPORTED)
    set_target_properties(platform::${lib} PROPERTIES
      IMPORTED_LOCATION "${WLC_REAL_${lib}}"
      INTERFACE_INCLUDE_DIRECTORIES "${WLC_REAL_UBUS_INCLUDE};${WLC_REAL_UBOX_INCLUDE}")
  endforeach()
  set(WLC_BUNDLED_PLATFORM OFF)
else()
  message(STATUS "Using the bundled platform libraries")
  set(WLC_BUNDLED_PLATFORM ON)
endif()

# libswconfig comes with the platform on a device.
if(NOT WLC_BUNDLED_PLATFORM)
  find_library(WLC_REAL_swconfig NAMES swconfig REQUIRED)
  add_library(platform::swconfig UNKNOWN IMPORTED)
  set_target_properties(platform::swconfig PROPERTIES IMPORTED_LOCATION "${WLC_REAL_swconfig}")
endif()
