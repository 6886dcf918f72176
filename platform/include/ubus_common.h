/* Definitions shared by the bus library, the bus daemon and the tool. */
#ifndef UBUS_COMMON_H
#define UBUS_COMMON_H

#define UBUS_SIGNATURE_METHOD (BLOBMSG_TYPE_LAST + 1)
#define UBUS_SIGNATURE_END    (BLOBMSG_TYPE_LAST + 2)

#endif
