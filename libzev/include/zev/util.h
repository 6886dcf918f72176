/* Network helpers, switch ports, status LEDs and small utilities. */
#ifndef ZEV_UTIL_H
#define ZEV_UTIL_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

int zev_net_mask_to_prefix(uint32_t netmask);
int zev_net_str_to_addr(const char *text, uint32_t *addr);
int zev_net_ipv4_to_str(uint32_t addr, char *buf);
int zev_net_max_prefix_len(int family);
int zev_net_iface_sys_param(const char *ifname, const char *attr, char *buf, size_t size);
int zev_net_iface_brif_vlan(const char *bridge);
int zev_net_iface_vlan(const char *ifname);

struct zev_switch_port_link {
	uint8_t link : 1;
	uint8_t duplex : 1;
	uint8_t aneg : 1;
	uint8_t tx_flow : 1;
	uint8_t rx_flow : 1;
	uint8_t reserved : 3;
	uint32_t speed;
};

int zev_switch_load_dev(void);
void zev_switch_free(void);
int zev_switch_port_stat(int port, const char *counter, uint64_t *value);
int zev_switch_port_link(int port, struct zev_switch_port_link *link);
int zev_switch_port_vid(int port, int *vid);

int zev_led_set_const(const char *name, uint8_t red, uint8_t green, uint8_t blue);
int zev_led_set_blink(const char *name, uint8_t red, uint8_t green, uint8_t blue,
		      unsigned int on_ms, unsigned int off_ms);

typedef bool (*zev_util_cond_cb)(void *user, int64_t remaining_ms);
int zev_util_retry_timeout(int64_t limit_ms, zev_util_cond_cb cond, void *user);

typedef void (*zev_util_keyval_cb)(const char *key, const char *value, void *user);
int zev_util_keyval_read(const char *path, zev_util_keyval_cb cb, void *user);

#ifdef __cplusplus
}
#endif

#endif
