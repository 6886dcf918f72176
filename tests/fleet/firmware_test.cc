// Firmware: the steps of a staged rollout (limits, failures, time-outs,
// offers again), images only from inside their directory, the web server's
// configuration, and rollouts in the inventory file.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "firmware/image_dir.h"
#include "firmware/rollout_logic.h"
#include "firmware/rollout_store.h"
#include "firmware/web_config.h"
#include "harness.h"
#include "inventory/inventory.h"
#include "inventory/store.h"

namespace {

using fleet::FwState;
using fleet::FwTrack;

class RolloutSteps : public ::testing::Test {
protected:
	void add(const std::string &ap, const std::string &model, bool online = true, const std::string &rev = "r42")
	{
		tracks_.push_back({ap, model, FwState::queued, 0, 0, ""});
		seen_[ap] = {online, rev};
	}
	fleet::RolloutStep step()
	{
		fleet::SeeAp see = [this](const std::string &ap) -> std::optional<fleet::ApSeen> {
			auto it = seen_.find(ap);
			if (it == seen_.end())
				return std::nullopt;
			return it->second;
		};
		return fleet::step_rollout(limits_, "R43", tracks_, see, now_);
	}
	std::string states() const
	{
		std::string out;
		for (const FwTrack &t : tracks_)
			out += std::string(fleet::fw_state_name(t.state)) + " ";
		return out;
	}

	fleet::RolloutLimits limits_{2, 2, 100, 30};
	std::vector<FwTrack> tracks_;
	std::map<std::string, fleet::ApSeen> seen_;
	int64_t now_ = 1000;
};

TEST_F(RolloutSteps, OffersModelsWithinTheLimitAndFollowsEachApHome)
{
	add("a", "m1");
	add("b", "m2");
	add("c", "m2");
	add("d", "m3", true, "r43"); // already there
	fleet::RolloutStep s = step();
	// One offer reaches both m2 APs: m1 and m2 together would be three.
	EXPECT_EQ(s.offers, std::vector<std::string>{"m1"});
	EXPECT_EQ(states(), "offered queued queued done ");
	EXPECT_FALSE(s.finished);

	// a goes to install; m2 (two APs) still does not fit beside it.
	seen_["a"].online = false;
	now_ += 5;
	s = step();
	EXPECT_EQ(states(), "installing queued queued done ");
	EXPECT_TRUE(s.offers.empty());
	// a is back with the target revision (in another case): done; m2's turn.
	seen_["a"] = {true, "r43"};
	now_ += 5;
	s = step();
	EXPECT_EQ(states(), "done offered offered done ");
	EXPECT_EQ(s.offers, std::vector<std::string>{"m2"});
	// An offer unanswered for the re-offer time is published again, once.
	now_ += 29;
	EXPECT_TRUE(step().offers.empty());
	now_ += 1;
	EXPECT_EQ(step().offers, std::vector<std::string>{"m2"});
	seen_["b"] = {true, "r43"};
	seen_["c"] = {true, "R43"};
	s = step();
	EXPECT_EQ(states(), "done done done done ");
	EXPECT_TRUE(s.finished);
	EXPECT_FALSE(s.halted);
}

TEST_F(RolloutSteps, FailuresStopTheOffersAtTheLimit)
{
	limits_.max_parallel = 1;
	add("a", "m1");
	add("b", "m2");
	add("c", "m3");
	ASSERT_EQ(step().offers, std::vector<std::string>{"m1"});
	// Back with the old revision: the install failed.
	seen_["a"].online = false;
	now_++;
	(void)step();
	seen_["a"].online = true;
	now_++;
	fleet::RolloutStep s = step();
	EXPECT_EQ(states(), "failed offered queued ");
	EXPECT_EQ(tracks_[0].detail, "back with r42");
	EXPECT_FALSE(s.halted);
	// b went offline and came back between two steps, still on the old
	// revision (seen by the time it went): failed as well, with c offered.
	limits_.max_failures = 3;
	seen_["b"].last_offline = now_;
	now_++;
	s = step();
	EXPECT_EQ(states(), "failed failed offered ");
	EXPECT_EQ(tracks_[1].detail, "back with r42");
	// c never comes back in time; the third failure halts the rollout.
	now_ += 101;
	s = step();
	EXPECT_EQ(states(), "failed failed failed ");
	EXPECT_NE(tracks_[2].detail.find("no return with R43 in 100 s"), std::string::npos) << tracks_[2].detail;
	EXPECT_TRUE(s.halted);
	EXPECT_TRUE(s.offers.empty());
	EXPECT_TRUE(step().offers.empty());
}

TEST_F(RolloutSteps, ModelGroupLargerThanTheLimitWaitsWithAReasonAndAGoneApFails)
{
	limits_.max_parallel = 1;
	add("a", "m1");
	add("b", "m1");
	add("c", "m2");
	seen_.erase("c");
	fleet::RolloutStep s = step();
	EXPECT_TRUE(s.offers.empty());
	EXPECT_EQ(states(), "queued queued failed ");
	EXPECT_EQ(tracks_[2].detail, "gone from the inventory");
	EXPECT_EQ(s.note, "2 APs of model m1 wait for one offer, more than the limit of 1");
}

TEST(FirmwareImages, OnlyFilesInsideTheDirectoryAreOffered)
{
	namespace fs = std::filesystem;
	wlctest::TempRoot root;
	std::string dir = root.at("/www/firmware/.keep");
	dir = dir.substr(0, dir.rfind('/'));
	wlctest::write_text(dir + "/fw/r43.bin", "image");
	wlctest::write_text(root.path() + "/secret.bin", "not an image");
	fs::create_symlink(root.path() + "/secret.bin", dir + "/escape.bin");
	fs::create_symlink(dir + "/fw/r43.bin", dir + "/latest.bin");

	EXPECT_EQ(fleet::check_image(dir, "fw/r43.bin").path, "fw/r43.bin");
	// A link inside the directory to an image inside it is offered as the image.
	EXPECT_EQ(fleet::check_image(dir, "latest.bin").path, "fw/r43.bin");
	struct Case {
		std::string rel, error;
	};
	std::vector<Case> bad = {
		{"../secret.bin", "must not leave the image directory"},
		{"fw/../../secret.bin", "must not leave the image directory"},
		{root.path() + "/secret.bin", "without a leading '/'"},
		{"escape.bin", "lies outside the image directory"},
		{"fw", "is not a file"},
		{"fw/none.bin", "no image fw/none.bin"},
		{"", "1 to 200 characters"},
		{"fw/r43.bin;reboot", "may hold only"},
	};
	for (const Case &c : bad) {
		fleet::ImageCheck r = fleet::check_image(dir, c.rel);
		EXPECT_EQ(r.path, "") << c.rel;
		EXPECT_NE(r.error.find(c.error), std::string::npos) << c.rel << " → " << r.error;
	}
}

TEST(FirmwareWebServer, ConfigurationServesTheImagesOverTlsOnly)
{
	std::string c = fleet::lighttpd_config({"/srv/fw \"x\"", 8443, "127.0.0.1", "/pki/s.crt", "/pki/s.key", "", ""});
	EXPECT_NE(c.find("server.document-root = \"/srv/fw \\\"x\\\"\"\n"), std::string::npos) << c;
	EXPECT_NE(c.find("server.port = 8443\n"), std::string::npos) << c;
	EXPECT_NE(c.find("server.bind = \"127.0.0.1\"\n"), std::string::npos) << c;
	EXPECT_NE(c.find("ssl.engine = \"enable\"\n"), std::string::npos) << c;
	EXPECT_NE(c.find("ssl.pemfile = \"/pki/s.crt\"\nssl.privkey = \"/pki/s.key\"\n"), std::string::npos) << c;
	EXPECT_NE(c.find("server.follow-symlink = \"disable\""), std::string::npos) << c;
}

TEST(FirmwareWebServer, ConfigurationFileIsWrittenWholeWithItsImageDirectory)
{
	wlctest::TempRoot root;
	std::string images = root.path() + "/srv/images", file = root.path() + "/lighttpd.conf", error;
	fleet::WebServerSettings web{images, 9443, "", "/pki/s.crt", "/pki/s.key", "", ""};
	wlctest::write_text(file, "old text that is longer than nothing");
	ASSERT_TRUE(fleet::write_lighttpd_config(file, web, error)) << error;
	EXPECT_EQ(wlctest::read_text(file), fleet::lighttpd_config(web));
	EXPECT_TRUE(std::filesystem::is_directory(images));
	EXPECT_FALSE(std::filesystem::exists(file + ".tmp"));

	// The file's directory is made when missing.
	ASSERT_TRUE(fleet::write_lighttpd_config(root.path() + "/etc/fleet/lighttpd.conf", web, error)) << error;
	EXPECT_EQ(wlctest::read_text(root.path() + "/etc/fleet/lighttpd.conf"), fleet::lighttpd_config(web));
	// A file that cannot be written is reported, and the old one stays.
	wlctest::write_text(root.path() + "/not-a-dir", "");
	EXPECT_FALSE(fleet::write_lighttpd_config(root.path() + "/not-a-dir/lighttpd.conf", web, error));
	EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
	web.images = root.path() + "/not-a-dir";
	EXPECT_FALSE(fleet::write_lighttpd_config(file, web, error));
	EXPECT_NE(error.find("image directory"), std::string::npos) << error;
	EXPECT_NE(wlctest::read_text(file).find("9443"), std::string::npos);
}

TEST(FirmwareRollouts, KeptWithTheirApsAndAHaltGivesTheReleaseBack)
{
	wlctest::TempRoot root;
	std::string error;
	auto opened = fleet::open_store(root.path() + "/fleet.db", error);
	ASSERT_TRUE(opened) << error;
	fleet::Inventory inventory(std::move(opened->db), [] { return int64_t{500}; });
	fleet::RolloutStore store(inventory.raw(), [] { return int64_t{500}; });
	ASSERT_TRUE(store.set_image("", "fw/any.bin", "operator"));
	ASSERT_TRUE(store.set_image("zev-ap2", "fw/ap2.bin", "operator"));
	EXPECT_EQ(store.image_for("zev-ap2").value_or(""), "fw/ap2.bin");
	EXPECT_EQ(store.image_for("zev-ap1").value_or(""), "fw/any.bin");

	fleet::Rollout first;
	first.target = {"23.05.2", "r42"};
	first.author = "operator";
	std::optional<int64_t> id = store.start(first, {{"ap1-00-00-01", "zev-ap1", FwState::queued, 0, 0, ""}});
	ASSERT_TRUE(id);
	ASSERT_TRUE(store.end(*id, "finished", ""));
	EXPECT_EQ(store.release()->revision, "r42");

	fleet::Rollout second = first;
	second.target = {"23.05.3", "r43"};
	second.previous = *store.release();
	id = store.start(second, {{"ap1-00-00-01", "zev-ap1", FwState::queued, 0, 0, ""}});
	ASSERT_TRUE(id);
	EXPECT_EQ(store.release()->revision, "r43");
	EXPECT_EQ(store.running()->id, *id);
	std::vector<FwTrack> tracks = store.tracks(*id);
	ASSERT_EQ(tracks.size(), 1u);
	tracks[0].state = FwState::failed;
	tracks[0].detail = "back with r42";
	ASSERT_TRUE(store.save(*id, tracks, {true}, ""));
	EXPECT_EQ(store.tracks(*id)[0].state, FwState::failed);
	ASSERT_TRUE(store.end(*id, "halted", "stopped at its failure limit"));
	EXPECT_FALSE(store.running());
	EXPECT_EQ(store.last()->state, "halted");
	EXPECT_EQ(store.release()->revision, "r42");
	std::vector<fleet::Event> h = inventory.history("ap1-00-00-01", 10);
	ASSERT_FALSE(h.empty());
	EXPECT_EQ(h.back().kind, "firmware");
	EXPECT_EQ(h.back().detail, "rollout 2: failed (back with r42)");
}

} // namespace
