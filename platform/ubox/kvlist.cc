// Key/value list in key order.
#include <wlc/c/ubox.h>

#include <cstdlib>
#include <cstring>

namespace {

kvlist_node *find_node(kvlist *kv, const char *name)
{
	kvlist_node *n;
	list_for_each_entry(n, &kv->list, list)
		if (std::strcmp(n->key, name) == 0)
			return n;
	return nullptr;
}

} // namespace

extern "C" {

void kvlist_init(kvlist *kv, int (*get_len)(kvlist *kv, const void *data))
{
	INIT_LIST_HEAD(&kv->list);
	kv->get_len = get_len;
}

void kvlist_free(kvlist *kv)
{
	kvlist_node *n, *tmp;
	list_for_each_entry_safe(n, tmp, &kv->list, list) {
		list_del(&n->list);
		std::free(n->key);
		std::free(n);
	}
}

void *kvlist_get(kvlist *kv, const char *name)
{
	kvlist_node *n = find_node(kv, name);
	return n ? n->data : nullptr;
}

bool kvlist_delete(kvlist *kv, const char *name)
{
	kvlist_node *n = find_node(kv, name);
	if (!n)
		return false;
	list_del(&n->list);
	std::free(n->key);
	std::free(n);
	return true;
}

bool kvlist_set(kvlist *kv, const char *name, const void *data)
{
	int len = kv->get_len(kv, data);
	if (len < 0)
		return false;
	auto *n = static_cast<kvlist_node *>(std::calloc(1, sizeof(kvlist_node) + static_cast<size_t>(len)));
	if (!n)
		return false;
	n->key = strdup(name);
	if (!n->key) {
		std::free(n);
		return false;
	}
	std::memcpy(n->data, data, static_cast<size_t>(len));
	kvlist_delete(kv, name);
	kvlist_node *pos;
	list_for_each_entry(pos, &kv->list, list)
		if (std::strcmp(pos->key, name) > 0)
			break;
	list_add_tail(&n->list, &pos->list);
	return true;
}

int kvlist_strlen(kvlist *, const void *data)
{
	return static_cast<int>(std::strlen(static_cast<const char *>(data)) + 1);
}

int kvlist_blob_len(kvlist *, const void *data)
{
	return static_cast<int>(blob_pad_len(static_cast<const blob_attr *>(data)));
}

} // extern "C"
