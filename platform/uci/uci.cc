// Reading UCI configuration packages and looking up their sections and options.
#include <wlc/c/uci.h>

#include <fsroot/fsroot.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace {

void list_init(uci_list *l)
{
	l->next = l->prev = l;
}

void list_append(uci_list *head, uci_list *item)
{
	item->prev = head->prev;
	item->next = head;
	head->prev->next = item;
	head->prev = item;
}

void list_remove(uci_list *item)
{
	item->prev->next = item->next;
	item->next->prev = item->prev;
	list_init(item);
}

template <typename T>
T *alloc_element(uci_type type, const std::string &name)
{
	auto *item = static_cast<T *>(std::calloc(1, sizeof(T)));
	if (!item)
		return nullptr;
	auto *e = reinterpret_cast<uci_element *>(item);
	list_init(&e->list);
	e->type = type;
	e->name = strdup(name.c_str());
	return item;
}

void free_option(uci_option *o)
{
	if (o->type == UCI_TYPE_LIST) {
		while (o->v.list.next != &o->v.list) {
			uci_element *e = list_to_element(o->v.list.next);
			list_remove(&e->list);
			std::free(e->name);
			std::free(e);
		}
	} else {
		std::free(o->v.string);
	}
	std::free(o->e.name);
	std::free(o);
}

void free_section(uci_section *s)
{
	while (s->options.next != &s->options) {
		auto *o = uci_to_option(list_to_element(s->options.next));
		list_remove(&o->e.list);
		free_option(o);
	}
	std::free(s->type);
	std::free(s->e.name);
	std::free(s);
}

void free_package(uci_package *p)
{
	while (p->sections.next != &p->sections) {
		auto *s = uci_to_section(list_to_element(p->sections.next));
		list_remove(&s->e.list);
		free_section(s);
	}
	std::free(p->path);
	std::free(p->e.name);
	std::free(p);
}

uci_element *find(uci_list *list, const char *name)
{
	uci_element *e;
	uci_foreach_element(list, e)
		if (std::strcmp(e->name, name) == 0)
			return e;
	return nullptr;
}

// Splits one line into words: bare, 'single' or "double" quoted (with
// backslash escapes), stopping at a comment. nullopt when a quote is open.
std::optional<std::vector<std::string>> split_words(const std::string &line)
{
	std::vector<std::string> words;
	size_t i = 0;
	while (i < line.size()) {
		while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i])))
			i++;
		if (i >= line.size() || line[i] == '#')
			break;
		std::string word;
		while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) {
			char c = line[i];
			if (c == '\'' || c == '"') {
				size_t close = i + 1;
				while (close < line.size() && line[close] != c) {
					if (c == '"' && line[close] == '\\' && close + 1 < line.size())
						close++;
					word += line[close++];
				}
				if (close >= line.size())
					return std::nullopt;
				i = close + 1;
			} else if (c == '\\' && i + 1 < line.size()) {
				word += line[i + 1];
				i += 2;
			} else {
				word += c;
				i++;
			}
		}
		words.push_back(word);
	}
	return words;
}

bool add_value(uci_section *s, const std::string &name, const std::string &value, bool is_list)
{
	uci_element *existing = find(&s->options, name.c_str());
	uci_option *o = existing ? uci_to_option(existing) : nullptr;
	if (o && (!is_list || o->type != UCI_TYPE_LIST)) {
		// A later option of the same name replaces the earlier one.
		list_remove(&o->e.list);
		free_option(o);
		o = nullptr;
	}
	if (!o) {
		o = alloc_element<uci_option>(UCI_TYPE_OPTION, name);
		if (!o)
			return false;
		o->section = s;
		o->type = is_list ? UCI_TYPE_LIST : UCI_TYPE_STRING;
		if (is_list)
			list_init(&o->v.list);
		list_append(&s->options, &o->e.list);
	}
	if (!is_list) {
		o->v.string = strdup(value.c_str());
		return true;
	}
	auto *item = alloc_element<uci_element>(UCI_TYPE_ITEM, value);
	if (!item)
		return false;
	list_append(&o->v.list, &item->list);
	return true;
}

int parse_package(uci_package *p, std::istream &in)
{
	uci_section *current = nullptr;
	int anonymous = 0;
	std::string line;
	while (std::getline(in, line)) {
		auto words = split_words(line);
		if (!words)
			return UCI_ERR_PARSE;
		if (words->empty() || (*words)[0] == "package")
			continue;
		const std::string &kw = (*words)[0];
		if (kw == "config") {
			if (words->size() < 2 || words->size() > 3)
				return UCI_ERR_PARSE;
			bool anon = words->size() == 2;
			char name[16];
			std::snprintf(name, sizeof(name), "cfg%02x", anonymous++);
			std::string sname = anon ? std::string(name) : (*words)[2];
			if (uci_element *e = anon ? nullptr : find(&p->sections, sname.c_str())) {
				current = uci_to_section(e); // a repeated name continues the section
				continue;
			}
			current = alloc_element<uci_section>(UCI_TYPE_SECTION, sname);
			if (!current)
				return UCI_ERR_MEM;
			list_init(&current->options);
			current->package = p;
			current->anonymous = anon;
			current->type = strdup((*words)[1].c_str());
			list_append(&p->sections, &current->e.list);
		} else if (kw == "option" || kw == "list") {
			if (!current || words->size() != 3)
				return UCI_ERR_PARSE;
			if (!add_value(current, (*words)[1], (*words)[2], kw == "list"))
				return UCI_ERR_MEM;
		} else {
			return UCI_ERR_PARSE;
		}
	}
	return UCI_OK;
}

// "@type[index]" among the package's sections; negative indices from the end.
uci_section *find_by_type(uci_package *p, const char *selector)
{
	const char *open = std::strchr(selector, '[');
	std::string type = open ? std::string(selector + 1, open) : std::string(selector + 1);
	long index = 0;
	if (open) {
		char *end;
		index = std::strtol(open + 1, &end, 10);
		if (*end != ']' || end[1] != '\0')
			return nullptr;
	}
	std::vector<uci_section *> matches;
	uci_element *e;
	uci_foreach_element(&p->sections, e) {
		uci_section *s = uci_to_section(e);
		if (type.empty() || type == s->type)
			matches.push_back(s);
	}
	long n = static_cast<long>(matches.size());
	if (index < 0)
		index += n;
	return index >= 0 && index < n ? matches[static_cast<size_t>(index)] : nullptr;
}

} // namespace

extern "C" {

uci_context *uci_alloc_context(void)
{
	auto *ctx = static_cast<uci_context *>(std::calloc(1, sizeof(uci_context)));
	if (!ctx)
		return nullptr;
	list_init(&ctx->root);
	ctx->confdir = strdup(wlc::root_path(UCI_CONFDIR).c_str());
	return ctx;
}

void uci_free_context(uci_context *ctx)
{
	if (!ctx)
		return;
	while (ctx->root.next != &ctx->root) {
		auto *p = uci_to_package(list_to_element(ctx->root.next));
		list_remove(&p->e.list);
		free_package(p);
	}
	std::free(ctx->confdir);
	std::free(ctx);
}

int uci_set_confdir(uci_context *ctx, const char *dir)
{
	if (!ctx || !dir || !*dir)
		return UCI_ERR_INVAL;
	std::free(ctx->confdir);
	ctx->confdir = strdup(dir);
	return UCI_OK;
}

int uci_load(uci_context *ctx, const char *name, uci_package **package)
{
	if (!ctx || !name || !*name || std::strchr(name, '/'))
		return ctx ? (ctx->err = UCI_ERR_INVAL) : UCI_ERR_INVAL;
	if (uci_element *e = find(&ctx->root, name)) {
		if (package)
			*package = uci_to_package(e);
		return UCI_OK;
	}
	std::string path = std::string(ctx->confdir) + "/" + name;
	std::ifstream in(path);
	if (!in)
		return ctx->err = UCI_ERR_NOTFOUND;
	auto *p = alloc_element<uci_package>(UCI_TYPE_PACKAGE, name);
	if (!p)
		return ctx->err = UCI_ERR_MEM;
	list_init(&p->sections);
	p->ctx = ctx;
	p->path = strdup(path.c_str());
	int ret = parse_package(p, in);
	if (ret != UCI_OK) {
		free_package(p);
		return ctx->err = ret;
	}
	list_append(&ctx->root, &p->e.list);
	if (package)
		*package = p;
	return UCI_OK;
}

int uci_unload(uci_context *ctx, uci_package *p)
{
	if (!ctx || !p)
		return UCI_ERR_INVAL;
	list_remove(&p->e.list);
	free_package(p);
	return UCI_OK;
}

int uci_lookup_ptr(uci_context *ctx, uci_ptr *ptr, char *str, bool extended)
{
	if (!ctx || !ptr || !str)
		return UCI_ERR_INVAL;
	std::memset(ptr, 0, sizeof(*ptr));
	char *value = std::strchr(str, '=');
	if (value) {
		*value++ = '\0';
		ptr->value = value;
	}
	char *parts[3] = {str, nullptr, nullptr};
	for (int i = 1; i < 3; i++) {
		char *dot = std::strchr(parts[i - 1], '.');
		if (!dot)
			break;
		*dot = '\0';
		parts[i] = dot + 1;
	}
	if (!*parts[0] || (parts[1] && !*parts[1]) || (parts[2] && (!*parts[2] || std::strchr(parts[2], '.'))))
		return ctx->err = UCI_ERR_INVAL;
	ptr->package = parts[0];
	ptr->section = parts[1];
	ptr->option = parts[2];
	if (ptr->section && ptr->section[0] == '@') {
		if (!extended)
			return ctx->err = UCI_ERR_INVAL;
		ptr->flags = uci_ptr::UCI_LOOKUP_EXTENDED;
	}
	int ret = uci_load(ctx, ptr->package, &ptr->p);
	if (ret != UCI_OK)
		return ret;
	ptr->flags = static_cast<decltype(ptr->flags)>(ptr->flags | uci_ptr::UCI_LOOKUP_DONE);
	ptr->last = &ptr->p->e;
	ptr->target = UCI_TYPE_PACKAGE;
	if (ptr->section) {
		ptr->target = UCI_TYPE_SECTION;
		ptr->s = ptr->section[0] == '@' ? find_by_type(ptr->p, ptr->section)
						 : uci_lookup_section(ctx, ptr->p, ptr->section);
		if (!ptr->s)
			return UCI_OK;
		ptr->last = &ptr->s->e;
		if (ptr->flags & uci_ptr::UCI_LOOKUP_EXTENDED)
			ptr->section = ptr->s->e.name;
	}
	if (ptr->option) {
		ptr->target = UCI_TYPE_OPTION;
		ptr->o = uci_lookup_option(ctx, ptr->s, ptr->option);
		if (!ptr->o)
			return UCI_OK;
		ptr->last = &ptr->o->e;
	}
	ptr->flags = static_cast<decltype(ptr->flags)>(ptr->flags | uci_ptr::UCI_LOOKUP_COMPLETE);
	return UCI_OK;
}

uci_section *uci_lookup_section(uci_context *, uci_package *p, const char *name)
{
	uci_element *e = p && name ? find(&p->sections, name) : nullptr;
	return e ? uci_to_section(e) : nullptr;
}

uci_option *uci_lookup_option(uci_context *, uci_section *s, const char *name)
{
	uci_element *e = s && name ? find(&s->options, name) : nullptr;
	return e ? uci_to_option(e) : nullptr;
}

const char *uci_lookup_option_string(uci_context *ctx, uci_section *s, const char *name)
{
	uci_option *o = uci_lookup_option(ctx, s, name);
	return o && o->type == UCI_TYPE_STRING ? o->v.string : nullptr;
}

} // extern "C"
