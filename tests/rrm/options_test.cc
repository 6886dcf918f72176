// The RRM daemons' command lines: both passes, their checks and log lines.
#include <gtest/gtest.h>

#include "common/options.h"
#include "log_capture.h"

namespace {

using rrm::Config;
using Args = std::vector<std::string>;

Args common(Args extra)
{
	Args a = {"-p", "pol", "-s", "site1", "-b", "1", "-c", "6"};
	a.insert(a.end(), extra.begin(), extra.end());
	return a;
}

TEST(RrmOptions, ChannelsSortedAndGrown)
{
	auto c = rrm::parse_agent_config({"-p", "x", "-s", "s", "-b", "2", "-c", "11", "-c", "1", "-c", "6", "-c", "36",
					  "-c", "149", "-i", "100", "-g", "1", "-r", "30"});
	ASSERT_TRUE(c);
	EXPECT_EQ(c->channels, (std::vector<int>{1, 6, 11, 36, 149}));
	EXPECT_EQ(c->radio, 2);
	EXPECT_EQ(c->scan_interval, 100);
	EXPECT_EQ(c->scan_gap, 1);
	EXPECT_EQ(c->scan_relax, 30);
	EXPECT_FALSE(c->channel_control);
	EXPECT_EQ(rrm::log_prefix(*c), "[s/2] ");
}

TEST(RrmOptions, CommonChecksInOrder)
{
	{
		rrmtest::LogCapture log;
		EXPECT_FALSE(rrm::parse_controller_config({"-s", "s", "-b", "1", "-c", "1"}));
		EXPECT_TRUE(log.has("rrm_ctrl.err: Missing policy name\nrrm_ctrl.err: Failed to read config\n"));
	}
	{
		rrmtest::LogCapture log;
		EXPECT_FALSE(rrm::parse_controller_config({"-p", "p", "-b", "1", "-c", "1"}));
		EXPECT_TRUE(log.has("Missing site name"));
	}
	{
		rrmtest::LogCapture log;
		EXPECT_FALSE(rrm::parse_agent_config({"-p", "p", "-s", "s", "-c", "1", "-i", "1", "-g", "1", "-r", "1"}));
		EXPECT_TRUE(log.has("Missing radio id"));
	}
	{
		rrmtest::LogCapture log;
		EXPECT_FALSE(rrm::parse_agent_config({"-p", "p", "-s", "s", "-b", "3", "-i", "1", "-g", "1", "-r", "1"}));
		EXPECT_TRUE(log.has("Missing channel list"));
	}
}

// Radios are numbered from 0; radio 0 is managed like any other.
TEST(RrmOptions, RadioZeroIsAccepted)
{
	auto c = rrm::parse_controller_config({"-p", "p", "-s", "s", "-b", "0", "-c", "1", "-w", "20", "-n", "low", "-r",
					       "force"});
	ASSERT_TRUE(c);
	EXPECT_EQ(c->radio, 0);
	EXPECT_EQ(c->db_path, "/etc/wlc/rrm/radio0");
}

TEST(RrmOptions, BadNumbersAreRefused)
{
	rrmtest::LogCapture log;
	EXPECT_FALSE(rrm::parse_controller_config(common({"-c", "abc", "-w", "20", "-n", "low", "-r", "force"})));
	EXPECT_TRUE(log.has("config: bad value 'abc' for -c"));
	EXPECT_FALSE(rrm::parse_controller_config(common({"-c", "0", "-w", "20", "-n", "low", "-r", "force"})));
	EXPECT_FALSE(rrm::parse_controller_config(common({"-b", "256", "-w", "20", "-n", "low", "-r", "force"})));
	EXPECT_FALSE(rrm::parse_controller_config(common({"-w", "20x", "-n", "low", "-r", "force"})));
	EXPECT_FALSE(rrm::parse_controller_config(common({"-w", "20", "-l", "-1000", "-n", "low", "-r", "force"})));
	EXPECT_FALSE(rrm::parse_agent_config(common({"-i", "-5", "-g", "1", "-r", "1"})));
	EXPECT_FALSE(rrm::parse_agent_config(common({"-i", "100", "-g", "1", "-r", "99999999"})));
	EXPECT_FALSE(rrm::parse_agent_config(common({"-i", "100", "-g", "1", "-r"}))); // value missing
	EXPECT_FALSE(rrm::parse_agent_config({"-p", "p", "-s", "a/b", "-b", "1", "-c", "1", "-i", "1", "-g", "1", "-r", "1"}));
	EXPECT_TRUE(log.has("Failed to read agent config"));
}

TEST(RrmOptions, ControllerPass)
{
	auto c = rrm::parse_controller_config(common({"-n", "medium", "-r", "graceful", "-w", "20"}));
	ASSERT_TRUE(c);
	EXPECT_EQ(c->pwr_min, 0);
	EXPECT_EQ(c->pwr_max, 0);
	EXPECT_EQ(c->sensitivity, rrm::Sensitivity::medium);
	EXPECT_EQ(c->roaming_strategy, 1);
	EXPECT_EQ(c->history_length, 16);
	EXPECT_EQ(c->db_path, "/etc/wlc/rrm/radio1");
	{
		rrmtest::LogCapture log;
		EXPECT_FALSE(rrm::parse_controller_config(common({"-n", "high", "-r", "force", "-w", "20", "-l", "20", "-h", "10"})));
		EXPECT_TRUE(log.has("rrm_ctrl.err: Minimum power (20) is higher than maximum power (10)\n"
				    "rrm_ctrl.err: Failed to read controller config\n"));
	}
	{
		rrmtest::LogCapture log;
		EXPECT_FALSE(rrm::parse_controller_config(common({"-n", "high", "-r", "smooth", "-w", "20"})));
		EXPECT_TRUE(log.has("config: roaming strategy = smooth (0)"));
		EXPECT_TRUE(log.has("Missing roaming strategy"));
	}
	{
		rrmtest::LogCapture log;
		EXPECT_FALSE(rrm::parse_controller_config(common({"-r", "force", "-w", "20"})));
		EXPECT_TRUE(log.has("Missing sensitivity"));
		EXPECT_FALSE(rrm::parse_controller_config(common({"-r", "force", "-n", "low"})));
		EXPECT_TRUE(log.has("Missing radio channel width"));
	}
}

TEST(RrmOptions, AgentPass)
{
	rrmtest::LogCapture log("rrm_agent");
	EXPECT_FALSE(rrm::parse_agent_config(common({"-i", "0", "-g", "1", "-r", "1"})));
	EXPECT_TRUE(log.has("rrm_agent.err: Missing scan interval\nrrm_agent.err: Failed to read agent config\n"));
	// -l and -w are flags here: the words after them are not their values.
	auto c = rrm::parse_agent_config(common({"-l", "-w", "-i", "250", "-g", "2", "-r", "60"}));
	ASSERT_TRUE(c);
	EXPECT_TRUE(c->channel_control);
	EXPECT_TRUE(c->power_control);
	EXPECT_TRUE(log.has("config: channel control"));
	EXPECT_TRUE(log.has("config: scan_relax = 60"));
}

// One command line may carry both daemons' options; each pass skips the other's.
// -m sets the report store's budget in MiB; without it the budget is 1 GiB.
TEST(RrmOptions, StoreBudget)
{
	rrmtest::LogCapture log;
	auto c = rrm::parse_controller_config(common({"-n", "low", "-r", "force", "-w", "20"}));
	ASSERT_TRUE(c);
	EXPECT_EQ(c->store_budget_mib, 1024);
	c = rrm::parse_controller_config(common({"-n", "low", "-r", "force", "-w", "20", "-m", "16"}));
	ASSERT_TRUE(c);
	EXPECT_EQ(c->store_budget_mib, 16);
	EXPECT_TRUE(log.has("config: store budget = 16 MiB"));
	for (const char *bad : {"0", "16385", "x"})
		EXPECT_FALSE(rrm::parse_controller_config(common({"-n", "low", "-r", "force", "-w", "20", "-m", bad}))) << bad;
	// The agent passes the letter over.
	EXPECT_TRUE(rrm::parse_agent_config(common({"-i", "100", "-g", "1", "-r", "1", "-m", "16"})));
}

// -d names the report store's directory; without it the store is the radio's
// one directory, as a controller of one site has always kept it.
TEST(RrmOptions, StoreDirectory)
{
	const Args base = common({"-n", "low", "-r", "force", "-w", "20"});
	auto with = [&base](Args extra) {
		Args a = base;
		a.insert(a.end(), extra.begin(), extra.end());
		return rrm::parse_controller_config(a);
	};
	auto c = rrm::parse_controller_config(base);
	ASSERT_TRUE(c);
	EXPECT_EQ(c->db_path, "/etc/wlc/rrm/radio1");
	EXPECT_EQ(c->db_path, rrm::default_store_dir(1));
	{
		rrmtest::LogCapture log;
		c = with({"-d", "/etc/wlc/rrm/site-hq/radio1"});
		ASSERT_TRUE(c);
		EXPECT_EQ(c->db_path, "/etc/wlc/rrm/site-hq/radio1");
		EXPECT_TRUE(log.has("config: store = /etc/wlc/rrm/site-hq/radio1"));
	}
	std::string longest = "/" + std::string(rrm::max_store_dir_chars - 1, 'x');
	c = with({"-d", longest});
	ASSERT_TRUE(c);
	EXPECT_EQ(c->db_path, longest);
	for (const std::string &bad : {std::string("etc/wlc/rrm/x"), std::string(""), std::string("/"), longest + "y",
				      std::string("/etc/wlc/rrm/../../tmp"), std::string("/etc/wlc/rrm/.."),
				      std::string("/etc/./wlc"), std::string("/etc//wlc"), std::string("/etc/wlc/"),
				      std::string("-w")}) {
		rrmtest::LogCapture log;
		EXPECT_FALSE(with({"-d", bad})) << bad;
		EXPECT_TRUE(log.has("rrm_ctrl.err: config: bad store directory '" + bad + "'\n")) << bad;
		EXPECT_TRUE(log.has("rrm_ctrl.err: Failed to read controller config\n")) << bad;
	}
	EXPECT_FALSE(with({"-d"})); // value missing
	// The agent passes the letter and its value over.
	EXPECT_TRUE(rrm::parse_agent_config(common({"-i", "100", "-g", "1", "-r", "1", "-d", "/srv/rrm"})));
	// Each site's directory, when the init script keeps the sites apart: at
	// most the limit even for the longest site name and radio number.
	EXPECT_EQ(rrm::site_store_dir("hq", 2), "/etc/wlc/rrm/site-hq/radio2");
	std::string dir = rrm::site_store_dir(std::string(40, 's'), rrm::max_radio);
	EXPECT_EQ(dir, "/etc/wlc/rrm/site-" + std::string(31, 's') + "/radio255");
	EXPECT_TRUE(with({"-d", dir}));
}

TEST(RrmOptions, ForeignLettersSkipped)
{
	Args both = common({"-n", "low", "-w", "40", "-h", "20", "-i", "100", "-g", "3", "-r", "force"});
	auto ctrl = rrm::parse_controller_config(both);
	ASSERT_TRUE(ctrl);
	EXPECT_EQ(ctrl->width, 40);
	EXPECT_EQ(ctrl->pwr_max, 20);
	EXPECT_EQ(ctrl->roaming_strategy, 2);
	auto agent = rrm::parse_agent_config(common({"-n", "low", "-h", "20", "-i", "100", "-g", "3", "-r", "9"}));
	ASSERT_TRUE(agent);
	EXPECT_EQ(agent->scan_gap, 3);
	EXPECT_EQ(agent->scan_relax, 9);
}

} // namespace

TEST(RrmOptions, SiteWidePlans)
{
	Args base = common({"-n", "low", "-r", "force", "-w", "40"});
	auto c = rrm::parse_controller_config(base);
	ASSERT_TRUE(c);
	EXPECT_FALSE(c->site_plan);
	EXPECT_FALSE(c->width_overlap);
	EXPECT_EQ(c->site_moves, rrm::default_site_moves);
	EXPECT_EQ(c->site_gain, rrm::default_site_gain_percent);
	Args on = base;
	on.insert(on.end(), {"-e", "-o", "-k", "8", "-t", "0"});
	c = rrm::parse_controller_config(on);
	ASSERT_TRUE(c);
	EXPECT_TRUE(c->site_plan);
	EXPECT_TRUE(c->width_overlap);
	EXPECT_EQ(c->site_moves, 8);
	EXPECT_EQ(c->site_gain, 0);
	for (auto bad : {std::pair{"-k", "0"}, {"-k", "1025"}, {"-t", "101"}, {"-t", "x"}}) {
		Args a = base;
		a.insert(a.end(), {bad.first, bad.second});
		EXPECT_FALSE(rrm::parse_controller_config(a)) << bad.first << " " << bad.second;
	}
	// The agent passes the letters over.
	EXPECT_TRUE(rrm::parse_agent_config(common({"-i", "100", "-g", "1", "-r", "1", "-e", "-k", "8", "-t", "2"})));
}
