/* Switch register library: PHY (MII) and MT753x switch registers, per-port
 * MIB counters and the switch's MAC address table, over the switch driver's
 * generic netlink family or the Ethernet driver's private ioctls. */
#ifndef LIBKITE_H
#define LIBKITE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Per-port MIB counters. */
struct libkite_port_cnt {
	uint64_t rx_bytes;
	uint64_t tx_bytes;
	uint32_t rx_pkts; /* rx_unicast + rx_multicast + rx_broadcast */
	uint32_t tx_pkts; /* tx_unicast + tx_multicast + tx_broadcast */
	uint32_t rx_unicast;
	uint32_t rx_multicast;
	uint32_t rx_broadcast;
	uint32_t tx_unicast;
	uint32_t tx_multicast;
	uint32_t tx_broadcast;
	uint32_t rx_drop;
	uint32_t rx_pause;
	uint32_t rx_crc_err;
	uint32_t tx_drop;
	uint32_t tx_pause;
	uint32_t tx_crc_err;
};

/* One step of a MAC address table search. */
struct libkite_mac_entry {
	uint32_t port_map; /* bit n: port n; only bits 0-7 are used */
	uint16_t vid;
	uint16_t age;      /* seconds left, 0 when not ageing */
	uint8_t mac[6];
	/* bits 0-2: the entry's filter bits; bit 6: static entry; bit 7: the
	 * entry's bit 23; bits 3-5 belong to the caller and are kept */
	uint8_t flags;
	uint8_t reserved;
};

/* 0 when a back end initialised (netlink tried first, then ioctl); -2 when none did. */
int libkite_mii_init(void);
/* Releases the current back end; 0, or -19 when there is none. */
int libkite_mii_uninit(void);
/* "netlink" or "ioctl", or NULL without a current back end. */
const char *libkite_mii_get_driver_name(void);

/* Every call below returns 0 on success, a negative errno on failure:
 * -19 without a current back end, -22 for bad arguments. */
int libkite_mii_reg_read(int phy, int reg, uint32_t *value);
int libkite_mii_reg_write(int phy, int reg, uint32_t value);
int libkite_switch_reg_read(int reg, uint32_t *value);
int libkite_switch_reg_write(int reg, uint32_t value);

/* Port 0..7. 0 when every register read succeeded, else the sum of the
 * failed reads' results; -22 for another port (the record is not touched). */
int libkite_switch_get_port_cnt(int port, struct libkite_port_cnt *cnt);

/* Dumps the address table into table[0 .. *size-1]; on return *size holds
 * the number of search steps taken (a slot per step, zeroed when the step
 * found no entry). 0, or -11 on a register failure or a search that stays busy. */
int libkite_switch_get_mac_table(struct libkite_mac_entry *table, int *size);

/* The port's two timestamps; -95 on the ioctl back end. */
int libkite_switch_port_ts(int port, uint64_t ts[2]);

#ifdef __cplusplus
}
#endif

#endif
