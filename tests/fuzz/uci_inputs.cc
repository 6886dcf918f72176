// Writes the input as the package "fuzz" in a private configuration
// directory and loads it through libuci.
#include "uci_inputs.h"

#include <wlc/c/uci.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace wlcfuzz {

namespace {

// The private directory, removed at exit.
struct ConfDir {
	std::string path;
	ConfDir()
	{
		const char *tmp = std::getenv("TMPDIR");
		std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/wlcfuzz-uci.XXXXXX";
		if (!mkdtemp(tmpl.data()))
			std::abort();
		path = tmpl;
	}
	~ConfDir()
	{
		std::error_code ec;
		std::filesystem::remove_all(path, ec);
	}
};

const std::string &conf_dir()
{
	static ConfDir dir;
	return dir.path;
}

void write_file(const std::string &path, const uint8_t *data, size_t size)
{
	// A new file each time: ext4 flushes a file truncated and written again
	// when it is closed, which would make every run wait for the disk.
	std::remove(path.c_str());
	std::FILE *f = std::fopen(path.c_str(), "wb");
	if (!f || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0)
		std::abort();
}

struct FreeContext {
	void operator()(uci_context *ctx) const { uci_free_context(ctx); }
};

void look_up(uci_context *ctx, std::string name)
{
	uci_ptr ptr = {};
	(void)uci_lookup_ptr(ctx, &ptr, name.data(), true);
}

void walk(uci_context *ctx, uci_package *pkg)
{
	uci_element *se;
	uci_foreach_element(&pkg->sections, se) {
		uci_section *s = uci_to_section(se);
		look_up(ctx, std::string("fuzz.") + se->name);
		look_up(ctx, std::string("fuzz.@") + s->type + "[-1]");
		uci_element *oe;
		uci_foreach_element(&s->options, oe) {
			uci_option *o = uci_to_option(oe);
			(void)uci_lookup_option_string(ctx, s, oe->name);
			look_up(ctx, std::string("fuzz.") + se->name + "." + oe->name);
			if (o->type == UCI_TYPE_LIST) {
				uci_element *ve;
				uci_foreach_element(&o->v.list, ve)
					(void)std::string(ve->name);
			}
		}
	}
	look_up(ctx, "fuzz.@interface[0].proto");
}

} // namespace

void uci_one_input(const uint8_t *data, size_t size)
{
	const std::string &dir = conf_dir();
	write_file(dir + "/fuzz", data, size);
	std::unique_ptr<uci_context, FreeContext> ctx(uci_alloc_context());
	if (!ctx || uci_set_confdir(ctx.get(), dir.c_str()) != UCI_OK)
		std::abort();
	uci_package *pkg = nullptr;
	if (uci_load(ctx.get(), "fuzz", &pkg) != UCI_OK || !pkg)
		return;
	walk(ctx.get(), pkg);
	uci_unload(ctx.get(), pkg);
}

} // namespace wlcfuzz
