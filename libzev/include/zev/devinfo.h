/* Device identity: identifier, serial, model, firmware, address, uptime, boot environment. */
#ifndef ZEV_DEVINFO_H
#define ZEV_DEVINFO_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct zev_release {
	char id[16];
	char codename[16];
	char release[32];
	char revision[64];
	uint16_t build_year;
	uint8_t build_month;
	uint8_t build_day;
};

const char *zev_devinfo_id(void);
const char *zev_devinfo_serial(void);
const char *zev_devinfo_model(void);
const char *zev_devinfo_fw_version(void);
const char *zev_devinfo_fw_revision(void);
/* Address and netmask of the management bridge, host byte order; either may be null. */
int zev_devinfo_ipv4(uint32_t *addr, uint32_t *netmask);
int64_t zev_devinfo_uptime(void);
int zev_devinfo_get_env(const char *name, char *dst, size_t len);
int zev_devinfo_release_read(const char *path, struct zev_release *release);

#ifdef __cplusplus
}
#endif

#endif
