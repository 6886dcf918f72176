/* Key/value list with string keys kept in key order; values are copied in,
 * their length given by the list's get_len function. */
#ifndef LIBUBOX_KVLIST_H
#define LIBUBOX_KVLIST_H

#include <stdbool.h>

#include "list.h"

struct kvlist {
	struct list_head list;
	int (*get_len)(struct kvlist *kv, const void *data);
};

struct kvlist_node {
	struct list_head list;
	char *key;
	char data[] __attribute__((aligned(8)));
};

#define __ptr_to_kv(_value) container_of((char *)(_value), struct kvlist_node, data)

/* Iterates in key order; name (const char *) and value (void *) are set for each entry. */
#define kvlist_for_each(kv, name, value) \
	for (value = (void *)list_first_entry(&(kv)->list, struct kvlist_node, list)->data, \
	     name = (const char *)__ptr_to_kv(value)->key; \
	     &__ptr_to_kv(value)->list != &(kv)->list; \
	     value = (void *)list_entry(__ptr_to_kv(value)->list.next, struct kvlist_node, list)->data, \
	     name = (const char *)__ptr_to_kv(value)->key)

void kvlist_init(struct kvlist *kv, int (*get_len)(struct kvlist *kv, const void *data));
void kvlist_free(struct kvlist *kv);
void *kvlist_get(struct kvlist *kv, const char *name);
bool kvlist_set(struct kvlist *kv, const char *name, const void *data);
bool kvlist_delete(struct kvlist *kv, const char *name);

int kvlist_strlen(struct kvlist *kv, const void *data);
int kvlist_blob_len(struct kvlist *kv, const void *data);


#endif
