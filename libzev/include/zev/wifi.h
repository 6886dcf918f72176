/* Wi-Fi driver access: interfaces, stations and rates, channel, width, power,
 * scans, fast-roaming keys; and the driver's events. */
#ifndef ZEV_WIFI_H
#define ZEV_WIFI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct zev_wifi_iface {
	char ifname[16];
	uint8_t radio;
	uint8_t band;
	uint8_t unit;
};

enum zev_wifi_phy_mode {
	ZEV_PHY_CCK = 0,
	ZEV_PHY_OFDM = 1,
	ZEV_PHY_HT_MIX = 2,
	ZEV_PHY_HT_GF = 3,
	ZEV_PHY_VHT = 4,
	ZEV_PHY_HE = 5,
};

#define ZEV_STA_CAP_11R (1u << 0)
#define ZEV_STA_CAP_11K (1u << 1)
#define ZEV_STA_CAP_11V (1u << 2)

struct zev_wifi_sta {
	uint8_t mac[6];
	uint8_t phy_mode;
	uint8_t mcs;
	uint8_t bw;
	uint8_t sgi;
	uint8_t nss;
	int32_t rssi[3];
	uint32_t connected_time;
	uint32_t ipv4;
	char hostname[32];
	uint8_t caps;
	uint64_t uplink_pkts;
	uint64_t uplink_bytes;
	uint64_t downlink_pkts;
	uint64_t downlink_bytes;
};

struct zev_wifi_sta_list {
	uint64_t count;
	struct zev_wifi_sta sta[];
};

struct zev_wifi_scan_req {
	int32_t mode;     /* 1: scan mode byte 0x00, otherwise 0x80 */
	int32_t duration; /* ms on the channel, at most 255 sent */
	int32_t channel;
};

struct zev_wifi_pmk_r1 {
	uint8_t pmk_r0_id[16];
	uint8_t pmk_r0_kh_id[48];
	uint8_t pmk_r0_kh_id_len;
	uint8_t pmk_r1_id[16];
	uint8_t pmk_r1_key[32];
	uint8_t cipher;
	uint8_t akm;
	uint32_t lifetime;
	uint32_t reassoc_timeout;
};

typedef int (*zev_wifi_iface_cb)(const struct zev_wifi_iface *iface, void *user);

int zev_wifi_iface_iter(zev_wifi_iface_cb cb, void *user);
struct zev_wifi_sta_list *zev_wifi_iface_stations(const char *ifname);
float zev_wifi_sta_rate(const struct zev_wifi_sta *sta);
int zev_wifi_iface_bssid(const char *ifname, uint8_t bssid[6]);
int zev_wifi_iface_essid(const char *ifname, char *buf, size_t len);
int zev_wifi_iface_ext_cap(const char *ifname, uint8_t *caps);
int zev_wifi_iface_channel(const char *ifname);
int64_t __radio_freq_hz(const char *ifname);
int zev_wifi_iface_chbw(const char *ifname);
int zev_wifi_iface_channel_set(const char *ifname, int channel);
int zev_wifi_iface_channel_ext_set(const char *ifname, uint8_t selector);
int zev_wifi_iface_tx_power_dbm(const char *ifname, int *dbm);
int zev_wifi_iface_tx_power_dbm_set(const char *ifname, int dbm);
int zev_wifi_iface_sta_del(const char *ifname, const uint8_t mac[6]);
int zev_wifi_iface_scan_req(const char *ifname, const struct zev_wifi_scan_req *req);
int zev_wifi_iface_sta_pmk_derive(const char *ifname, const uint8_t sta[6], const uint8_t bssid[6],
				  struct zev_wifi_pmk_r1 *pmk);
int zev_wifi_iface_sta_pmk_save(const char *ifname, const uint8_t sta[6], const struct zev_wifi_pmk_r1 *pmk);

/* Driver events */

struct zev_wifi_sta_join {
	uint8_t mac[6];
	uint16_t aid;     /* payload bytes 12-13 */
	uint32_t flags;   /* payload bytes 14-17 */
	int32_t rssi;     /* payload byte 25, sign-extended */
	uint8_t moved;    /* payload byte 90 non-zero */
};

struct zev_wifi_sta_leave {
	uint8_t mac[6];
	uint16_t reason;  /* payload bytes 88-89 */
};

struct zev_wifi_chan_stats {
	uint32_t type;
	uint32_t interval;
	uint32_t channel;
	uint32_t busy_time;
	uint32_t tx_time;
	uint32_t rx_time;
	uint32_t obss_time;
	uint32_t non_wifi_time;
	uint32_t false_cca;
};

struct zev_wifi_bss {
	char ssid[33];
	uint8_t bssid[6];
	int32_t rssi;
	uint32_t channel;
	uint32_t bw;
	uint32_t beacon_period;
	uint32_t dtim_count;
	uint32_t dtim_period;
	uint8_t qbss;
	uint8_t ch_util;
	uint32_t sta_num;
	uint32_t avail_admission_cap;
};

#define ZEV_WIFI_BSS_MAX 16

struct zev_wifi_bss_list {
	uint32_t count;
	struct zev_wifi_bss bss[ZEV_WIFI_BSS_MAX];
};

struct zev_wifi_event_cb {
	void (*on_sta_join)(const char *ifname, const struct zev_wifi_sta_join *ev, void *user);
	void (*on_sta_leave)(const char *ifname, const struct zev_wifi_sta_leave *ev, void *user);
	void (*on_chan_stats)(const char *ifname, const struct zev_wifi_chan_stats *ev, void *user);
	void (*on_bss)(const char *ifname, const struct zev_wifi_bss_list *ev, void *user);
	void *user_data;
};

int zev_wifi_subscribe(void);
int zev_wifi_unsubscribe(int fd);
int zev_wifi_event_process(int fd, const struct zev_wifi_event_cb *cb);

#ifdef __cplusplus
}
#endif

#endif
