// Script commands for a device's switch (see control/commands.h):
//   switch netlink <ap> on|off                         the driver's generic netlink family present or not
//   switch counter <ap> <port> <offset> <value> [step]  a MIB counter; a 64-bit one (by its low word's
//                                                       offset, 0x48 or 0xA8) advances by step per low-word read
//   switch fdb <ap> <address> <mac> <vid> <ports> <timer> [state] [bit23] [filter]
//                                                       an address table entry at a table address
//   switch busy <ap> <polls>                            status reads answered busy after each search command
//   switch ts <ap> <port> <first> <second>              a port's two timestamps
//   switch phy <ap> <phy> <reg> <value>                 a PHY register
//   switch reg <ap> <reg> <value>                       a plain register
// Numbers may be given in hexadecimal with 0x.
#pragma once

#include <string>
#include <vector>

#include "../world/world.h"

namespace sim {

std::string switch_command(World &world, const std::vector<std::string> &args);

} // namespace sim
