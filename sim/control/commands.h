// Script commands that change the simulated world while it runs, one per
// line, answered with "ok" or "error: <reason>":
//   sta add <ap> <ifname> <mac> [rssi] [moved]     station joins (join event)
//   sta del <ap> <ifname> <mac>                    station leaves (leave event)
//   bss add <ap> <ssid> <bssid> <channel> <rssi>   a neighbour BSS outside the site
//   hear <ap> <ap> <rssi>                          two APs hear each other
//   load <channel> <busy%> <false_cca>             channel load seen by scans
//   link <ap> <ifname> up|down                     interface state
//   switch ...                                     the switch registers (see switch/switch_commands.h)
// and questions about the world, answered with "ok" and the items after it:
//   sta list <ap> [ifname]                         "ok <ifname>/<mac> ..." stations associated
//   pmk list <ap>                                  "ok <ifname>/<sta-mac> ..." PMK-R1 records saved
//   events <ap>                                    "ok <n>" programs listening to the AP's driver events
//   pmk show <ap> <ifname> <sta-mac>               "ok <hex>" the 167-byte save request as received
//   radio <ap> <radio>                             "ok channel <c> power <dBm>"
//   power <ap> <radio> <dBm>                       transmit power (heard that much louder or fainter)
//   setting <ap> <radio> channel|power             "ok <value>" of the RRM agent's applied-settings file
//   scans <ap>                                     "ok <ifname>:<channel>:active|passive:<dwell ms> ..."
//                                                  the scan requests taken since last asked
//   cpu <ap> <busy%>                               CPU load from now on
//   scan <ap> stall|run                            scans never end / end again
//   extcha <ap> fail|ok                            secondary-channel settings fail / work
#pragma once

#include <string>

#include "../driver/server.h"
#include "../world/world.h"

namespace sim {

std::string run_command(World &world, DriverServer &server, const std::string &line);

} // namespace sim
