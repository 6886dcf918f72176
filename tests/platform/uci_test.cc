// Reading UCI packages under the device root and looking up options and lists.
#include <wlc/c/uci.h>

#include <fsroot/fsroot.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "harness.h"

namespace {

class Uci : public ::testing::Test {
protected:
	void SetUp() override
	{
		setenv("WLC_ROOT", root_.path().c_str(), 1);
		wlc::reload_fs_root();
		wlctest::write_text(root_.at("/etc/config/system"),
			"config system\n"
			"\toption hostname 'ap1'\n"
			"\toption timezone UTC # trailing comment\n"
			"\n"
			"config timeserver 'ntp'\n"
			"\tlist server '0.pool.ntp.org'\n"
			"\tlist server \"1.pool.ntp.org\"\n"
			"\tlist server 10.0.0.1\n"
			"\toption enabled '1'\n");
		wlctest::write_text(root_.at("/etc/config/network"),
			"config interface 'vlan5'\n"
			"\toption ipaddr '192.168.5.1'\n"
			"\toption netmask '255.255.255.0'\n"
			"config interface 'lan'\n"
			"\toption ipaddr '10.0.0.1'\n");
		ctx_ = uci_alloc_context();
		ASSERT_NE(ctx_, nullptr);
	}
	void TearDown() override
	{
		uci_free_context(ctx_);
		unsetenv("WLC_ROOT");
		wlc::reload_fs_root();
	}

	// Looks up a path; the option's string or list items, empty if incomplete.
	std::vector<std::string> lookup(const std::string &path, int *ret = nullptr)
	{
		std::string copy = path;
		uci_ptr ptr;
		int r = uci_lookup_ptr(ctx_, &ptr, copy.data(), true);
		if (ret)
			*ret = r;
		std::vector<std::string> out;
		if (r != UCI_OK || !(ptr.flags & uci_ptr::UCI_LOOKUP_COMPLETE) || !ptr.o)
			return out;
		if (ptr.o->type == UCI_TYPE_STRING) {
			out.push_back(ptr.o->v.string);
		} else {
			uci_element *e;
			uci_foreach_element(&ptr.o->v.list, e)
				out.push_back(e->name);
		}
		return out;
	}

	wlctest::TempRoot root_;
	uci_context *ctx_ = nullptr;
};

TEST_F(Uci, OptionsAndListsByName)
{
	EXPECT_EQ(lookup("network.vlan5.ipaddr"), std::vector<std::string>{"192.168.5.1"});
	EXPECT_EQ(lookup("network.vlan5.netmask"), std::vector<std::string>{"255.255.255.0"});
	EXPECT_EQ(lookup("system.ntp.server"),
		  (std::vector<std::string>{"0.pool.ntp.org", "1.pool.ntp.org", "10.0.0.1"}));
	EXPECT_EQ(lookup("system.@system[0].hostname"), std::vector<std::string>{"ap1"});
	EXPECT_EQ(lookup("system.@system[-1].timezone"), std::vector<std::string>{"UTC"});
	EXPECT_EQ(lookup("network.@interface[1].ipaddr"), std::vector<std::string>{"10.0.0.1"});
}

TEST_F(Uci, MissingPartsAreIncompleteNotErrors)
{
	int ret = -1;
	EXPECT_TRUE(lookup("network.vlan9.ipaddr", &ret).empty());
	EXPECT_EQ(ret, UCI_OK);
	EXPECT_TRUE(lookup("network.lan.netmask", &ret).empty());
	EXPECT_EQ(ret, UCI_OK);
	EXPECT_TRUE(lookup("nopackage.x.y", &ret).empty());
	EXPECT_EQ(ret, UCI_ERR_NOTFOUND);
	EXPECT_TRUE(lookup("network..ipaddr", &ret).empty());
	EXPECT_EQ(ret, UCI_ERR_INVAL);
}

TEST_F(Uci, SectionsAndStringsThroughThePackage)
{
	uci_package *p = nullptr;
	ASSERT_EQ(uci_load(ctx_, "network", &p), UCI_OK);
	std::vector<std::string> names;
	uci_element *e;
	uci_foreach_element(&p->sections, e)
		names.push_back(e->name);
	EXPECT_EQ(names, (std::vector<std::string>{"vlan5", "lan"}));
	uci_section *s = uci_lookup_section(ctx_, p, "lan");
	ASSERT_NE(s, nullptr);
	EXPECT_STREQ(s->type, "interface");
	EXPECT_STREQ(uci_lookup_option_string(ctx_, s, "ipaddr"), "10.0.0.1");
	EXPECT_EQ(uci_lookup_option_string(ctx_, s, "gateway"), nullptr);
}

TEST_F(Uci, BrokenFileIsAParseError)
{
	wlctest::write_text(root_.at("/etc/config/broken"), "config interface 'x'\n\toption ipaddr '10.0.0.1\n");
	uci_package *p = nullptr;
	EXPECT_EQ(uci_load(ctx_, "broken", &p), UCI_ERR_PARSE);
	wlctest::write_text(root_.at("/etc/config/orphan"), "option ipaddr 1\n");
	EXPECT_EQ(uci_load(ctx_, "orphan", &p), UCI_ERR_PARSE);
	EXPECT_EQ(uci_load(ctx_, "../escape", &p), UCI_ERR_INVAL);
}

} // namespace
