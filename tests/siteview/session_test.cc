// The session service's parts: access-list files, logins and passwords,
// the session table.
#include <gtest/gtest.h>

#include "acl.h"
#include "gateway_fixture.h"
#include "logins.h"
#include "sessions.h"

namespace siteviewtest {
namespace {

using siteview::Grant;

TEST(SiteviewAcl, ReadsGroupsAndSkipsMalformedEntries)
{
	siteview::AclGroups g = siteview::parse_acl(R"({
		"viewer": {"description": "x", "read": {"ubus": {"fleet": ["list", 3, "show"], "rrm_ctrl.*": ["model"],
		                                               "bad": "list"}, "uci": {"x": ["y"]}}},
		"admin": {"write": {"ubus": {"fleet": ["approve"]}}},
		"broken": 5})");
	ASSERT_EQ(g.size(), 2u);
	EXPECT_EQ(g["viewer"].read, (std::vector<Grant>{{"fleet", "list"}, {"fleet", "show"}, {"rrm_ctrl.*", "model"}}));
	EXPECT_TRUE(g["viewer"].write.empty());
	EXPECT_EQ(g["admin"].write, (std::vector<Grant>{{"fleet", "approve"}}));
	EXPECT_TRUE(siteview::parse_acl("{").empty());
	EXPECT_TRUE(siteview::parse_acl("[1]").empty());
}

TEST(SiteviewAcl, PatternsMatchObjectAndMethod)
{
	std::vector<Grant> calls = {{"fleet", "list"}, {"rrm_ctrl.*", "model"}};
	EXPECT_TRUE(siteview::grants(calls, "fleet", "list"));
	EXPECT_TRUE(siteview::grants(calls, "rrm_ctrl.site1.0", "model"));
	EXPECT_FALSE(siteview::grants(calls, "rrm_ctrl.site1.0", "config"));
	EXPECT_FALSE(siteview::grants(calls, "fleet", "approve"));
	EXPECT_FALSE(siteview::grants(calls, "fleetx", "list"));
}

TEST(SiteviewLogins, RolesGrantTheirGroupsParts)
{
	std::vector<siteview::Login> logins = siteview::parse_logins(logins_json());
	ASSERT_EQ(logins.size(), 2u);
	siteview::AclGroups groups = siteview::parse_acl(
		wlctest::read_text(std::string(WLC_SOURCE_DIR) + "/siteview/acl/wlc-siteview.json"));
	std::vector<Grant> admin = siteview::granted_calls(logins[0], groups);
	std::vector<Grant> viewer = siteview::granted_calls(logins[1], groups);
	EXPECT_TRUE(siteview::grants(admin, "fleet", "approve"));
	EXPECT_TRUE(siteview::grants(admin, "fleet", "list"));
	EXPECT_TRUE(siteview::grants(viewer, "fleet", "list"));
	EXPECT_TRUE(siteview::grants(viewer, "rrm_ctrl.site1.0", "model"));
	for (const char *m : {"approve", "reboot", "config_set", "rollout_start", "forget", "reset"})
		EXPECT_FALSE(siteview::grants(viewer, "fleet", m)) << m;
	// A login without a hash or a name is no login.
	EXPECT_TRUE(siteview::parse_logins(R"({"logins":[{"username":"a"},{"password":"$5$x$y"}]})").empty());
}

TEST(SiteviewLogins, PasswordsCheckedAgainstCryptHashes)
{
	std::string hash = password_hash("s3cret");
	ASSERT_EQ(hash.rfind("$5$", 0), 0u) << hash;
	EXPECT_TRUE(siteview::password_matches(hash, "s3cret"));
	EXPECT_FALSE(siteview::password_matches(hash, "s3cret "));
	EXPECT_FALSE(siteview::password_matches(hash, ""));
	EXPECT_FALSE(siteview::password_matches("!" + hash, "s3cret"));
	EXPECT_FALSE(siteview::password_matches("", ""));
	EXPECT_FALSE(siteview::password_matches("*", ""));
	// A plain-text "hash" never matches its own text.
	EXPECT_FALSE(siteview::password_matches("s3cret", "s3cret"));
}

TEST(SiteviewSessions, NullSessionMayOnlyLogIn)
{
	siteview::SessionTable t;
	EXPECT_TRUE(t.allowed(siteview::kNullSession, "ubus", "session", "login"));
	EXPECT_FALSE(t.allowed(siteview::kNullSession, "ubus", "session", "destroy"));
	EXPECT_FALSE(t.allowed(siteview::kNullSession, "ubus", "fleet", "list"));
	EXPECT_FALSE(t.allowed(siteview::kNullSession, "uci", "session", "login"));
	EXPECT_FALSE(siteview::SessionTable().destroy(siteview::kNullSession));
}

TEST(SiteviewSessions, GrantsPerSessionUntilDestroyed)
{
	siteview::SessionTable t;
	std::optional<std::string> a = t.create("a", {{"fleet", "list"}}, std::chrono::seconds(60));
	std::optional<std::string> b = t.create("b", {{"fleet", "*"}}, std::chrono::seconds(60));
	ASSERT_TRUE(a && b);
	EXPECT_NE(*a, *b);
	EXPECT_TRUE(t.allowed(*a, "ubus", "fleet", "list"));
	EXPECT_FALSE(t.allowed(*a, "ubus", "fleet", "approve"));
	EXPECT_TRUE(t.allowed(*b, "ubus", "fleet", "approve"));
	EXPECT_FALSE(t.allowed(*a, "file", "fleet", "list"));
	EXPECT_TRUE(t.destroy(*a));
	EXPECT_FALSE(t.allowed(*a, "ubus", "fleet", "list"));
	EXPECT_FALSE(t.destroy(*a));
	EXPECT_TRUE(t.allowed(*b, "ubus", "fleet", "list"));
}

} // namespace
} // namespace siteviewtest
