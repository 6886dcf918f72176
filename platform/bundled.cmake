# The bundled platform libraries, the bus daemon and the bus tool.
set(PLATFORM_INCLUDE ${CMAKE_CURRENT_SOURCE_DIR}/include)

add_library(ubox SHARED ubox/blob.cc ubox/blobmsg.cc ubox/uloop.cc ubox/ustream.cc ubox/kvlist.cc)
target_include_directories(ubox PUBLIC $<BUILD_INTERFACE:${PLATFORM_INCLUDE}>)
target_link_libraries(ubox PUBLIC $<BUILD_INTERFACE:platform_c>)
set_target_properties(ubox PROPERTIES VERSION 1 SOVERSION 1)

add_library(blobmsg_json SHARED blobmsg_json/blobmsg_json.cc)
target_link_libraries(blobmsg_json PUBLIC ubox PkgConfig::JSONC)

add_library(ubus_wire STATIC ubus/wire.cc)
target_link_libraries(ubus_wire PUBLIC ubox)

add_library(ubus SHARED ubus/connection.cc ubus/requests.cc ubus/objects.cc)
target_link_libraries(ubus PUBLIC ubox PRIVATE ubus_wire fsroot)
set_target_properties(ubus PROPERTIES VERSION 1 SOVERSION 1)

add_library(uci SHARED uci/uci.cc)
target_include_directories(uci PUBLIC $<BUILD_INTERFACE:${PLATFORM_INCLUDE}>)
target_link_libraries(uci PUBLIC $<BUILD_INTERFACE:platform_c>)
target_link_libraries(uci PRIVATE fsroot)
set_target_properties(uci PROPERTIES VERSION 1 SOVERSION 1)

foreach(lib ubox ubus blobmsg_json uci)
  export_only_c_api(${lib})
endforeach()

foreach(lib ubox ubus blobmsg_json uci)
  add_library(platform::${lib} ALIAS ${lib})
endforeach()

# The daemon's clients and message handling, apart from its main (the fuzz
# target of its message handling drives them without a listening socket).
add_library(ubusd_core STATIC ubusd/clients.cc ubusd/protocol.cc)
target_include_directories(ubusd_core PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/ubusd)
target_link_libraries(ubusd_core PUBLIC ubus_wire ubox)

add_executable(ubusd ubusd/main.cc)
target_link_libraries(ubusd PRIVATE ubusd_core fsroot)

add_executable(ubus_cli cli/ubus.cc)
set_target_properties(ubus_cli PROPERTIES OUTPUT_NAME ubus)
target_link_libraries(ubus_cli PRIVATE ubus ubox blobmsg_json)

# Installed (component "platform") as the platform lays them out: libraries in
# lib, the daemon in sbin, the tool in bin, headers in include and
# include/libubox. Installed programs find the libraries beside them.
set_target_properties(ubox ubus blobmsg_json uci ubusd ubus_cli PROPERTIES
  INSTALL_RPATH "$ORIGIN;$ORIGIN/../lib")
install(TARGETS ubox ubus blobmsg_json uci LIBRARY DESTINATION lib COMPONENT platform)
install(TARGETS ubusd RUNTIME DESTINATION sbin COMPONENT platform)
install(TARGETS ubus_cli RUNTIME DESTINATION bin COMPONENT platform)
install(DIRECTORY include/ DESTINATION include COMPONENT platform)
