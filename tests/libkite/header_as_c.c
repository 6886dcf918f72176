/* The library's public header compiles as C. */
#include <libkite/libkite.h>

int kite_header_as_c(void);

int kite_header_as_c(void)
{
	struct libkite_mac_entry e = {0};
	struct libkite_port_cnt c = {0};
	return (int)sizeof(e) + (int)c.rx_pkts;
}
