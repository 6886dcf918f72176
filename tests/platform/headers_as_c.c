/* The exported headers compile as C. */
#include <libubox/blob.h>
#include <libubox/blobmsg.h>
#include <libubox/blobmsg_json.h>
#include <libubox/kvlist.h>
#include <libubox/list.h>
#include <libubox/uloop.h>
#include <libubox/ustream.h>
#include <libubus.h>
#include <uci.h>

int headers_as_c(void);

int headers_as_c(void)
{
	static const struct blobmsg_policy policy[] = {{"id", BLOBMSG_TYPE_INT32}};
	static const struct ubus_method methods[] = {UBUS_METHOD("m", NULL, policy)};
	static struct ubus_object_type type = UBUS_OBJECT_TYPE("t", methods);
	return type.n_methods + (int)sizeof(struct uci_ptr);
}
