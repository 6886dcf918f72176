/* Switch configuration library (the subset the system uses): connect to the
 * switch, scan its attributes, look up and read port attributes. */
#ifndef SWLIB_H
#define SWLIB_H

#include <net/if.h>
#include <stdint.h>

enum swlib_attr_group {
	SWLIB_ATTR_GROUP_GLOBAL,
	SWLIB_ATTR_GROUP_VLAN,
	SWLIB_ATTR_GROUP_PORT,
};

enum switch_val_type {
	SWITCH_TYPE_UNSPEC,
	SWITCH_TYPE_INT,
	SWITCH_TYPE_STRING,
	SWITCH_TYPE_PORTS,
	SWITCH_TYPE_LINK,
	SWITCH_TYPE_NOVAL,
};

struct switch_attr;

struct switch_dev {
	int id;
	char dev_name[IFNAMSIZ];
	char *name;
	char *alias;
	int ports;
	int vlans;
	int cpu_port;
	struct switch_attr *ops;
	struct switch_attr *port_ops;
	struct switch_attr *vlan_ops;
	struct switch_portmap *maps;
	struct switch_dev *next;
	void *priv;
};

struct switch_port {
	unsigned int id;
	unsigned int flags;
};

struct switch_port_link {
	int link : 1;
	int duplex : 1;
	int aneg : 1;
	int tx_flow : 1;
	int rx_flow : 1;
	int speed;
	uint32_t eee;
};

struct switch_val {
	struct switch_attr *attr;
	int len;
	int err;
	int port_vlan;
	union {
		char *s;
		int i;
		struct switch_port *ports;
		struct switch_port_link *link;
	} value;
};

struct switch_attr {
	struct switch_dev *dev;
	int atype;
	int id;
	int type;
	const char *name;
	const char *description;
	struct switch_attr *next;
};

/* name NULL: the first switch found (a chain of all of them). */
struct switch_dev *swlib_connect(const char *name);
void swlib_free(struct switch_dev *dev);
void swlib_free_all(struct switch_dev *dev);
int swlib_scan(struct switch_dev *dev);
struct switch_attr *swlib_lookup_attr(struct switch_dev *dev, enum swlib_attr_group atype, const char *name);
/* String values are allocated and freed by the caller; link values point at
 * storage that lasts until the next call. */
int swlib_get_attr(struct switch_dev *dev, struct switch_attr *attr, struct switch_val *val);


#endif
