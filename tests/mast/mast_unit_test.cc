// mast's parts on their own: options, payloads and topics, message readers, the log
// stream's framing, LED periods, the command runner.
#include <gtest/gtest.h>

#include <wlc/log.h>

#include <chrono>
#include <fstream>
#include <sys/stat.h>
#include <thread>

#include "bridge/command_runner.h"
#include "core/options.h"
#include "harness.h"
#include "led/indicator.h"
#include "ap/log_frames.h"
#include "mqtt/payload.h"
#include "mqtt/readers.h"

namespace {

using namespace std::chrono_literals;
using wlctest::pump;

std::optional<mast::Options> parse(std::vector<std::string> args)
{
	args.insert(args.begin(), "mast");
	std::vector<char *> argv;
	for (auto &a : args)
		argv.push_back(a.data());
	argv.push_back(nullptr);
	return mast::parse_options(static_cast<int>(args.size()), argv.data());
}

TEST(MastOptions, ListsRolesAndBrokers)
{
	wlctest::TempRoot dir;
	std::string log = dir.at("/log");
	setenv("WLC_LOG_FILE", log.c_str(), 1);
	wlc::log_open("mast");
	auto o = parse({"-h", "10.0.0.1:1884", "-h", "10.0.0.2", "-w", "a", "-w", "b", "-g", "300:s1", "-p", "secret"});
	wlc::log_close();
	unsetenv("WLC_LOG_FILE");
	ASSERT_TRUE(o);
	EXPECT_EQ(o->role, mast::Role::Ap);
	ASSERT_EQ(o->brokers.size(), 2u);
	EXPECT_EQ(o->brokers[0].host, "10.0.0.2"); // reverse of the command line
	EXPECT_EQ(o->brokers[0].port, 0);
	EXPECT_EQ(o->brokers[1].port, 1884);
	EXPECT_EQ(o->wlans, (std::vector<std::string>{"b", "a"}));
	EXPECT_EQ(o->rrm_agents[0].radio, 44); // 300 reduced to 8 bits
	EXPECT_EQ(o->rrm_agents[0].site, "s1");
	std::string text = wlctest::read_text(log);
	EXPECT_NE(text.find("config: broker host = 10.0.0.1\nmast.debug: config: broker port = 1884\n"), std::string::npos);
	EXPECT_NE(text.find("config: broker host = 10.0.0.2\nmast.debug: config: WLAN = a"), std::string::npos);
	EXPECT_EQ(text.find("secret"), std::string::npos); // the password stays out of the log

	auto adopted = parse({"-a"});
	ASSERT_TRUE(adopted);
	EXPECT_TRUE(adopted->adopted);
	EXPECT_EQ(adopted->role, mast::Role::Ap);
	EXPECT_FALSE(parse({"-r", "router"}));
	EXPECT_FALSE(parse({"-g", "5"})); // radio without a site
	EXPECT_FALSE(parse({"-x"}));
	auto wlc = parse({"-r", "wlc", "-d", "-u", "admin"});
	ASSERT_TRUE(wlc);
	EXPECT_EQ(wlc->role, mast::Role::Wlc);
	EXPECT_TRUE(wlc->draft);
	EXPECT_EQ(wlc->username, "admin");
}

TEST(MastPayload, CheckAndTopics)
{
	std::vector<uint8_t> three = {0, 0, 0};
	EXPECT_EQ(mast::payload_check(three.data(), three.size()), nullptr);
	std::vector<uint8_t> root = {0, 0, 0, 8, 1, 2, 3, 4, 9, 9}; // two trailing bytes ignored
	EXPECT_NE(mast::payload_check(root.data(), root.size()), nullptr);
	std::vector<uint8_t> longer = {0, 0, 0, 12, 1, 2, 3, 4};
	EXPECT_EQ(mast::payload_check(longer.data(), longer.size()), nullptr);
	std::vector<uint8_t> shorter = {0, 0, 0, 3};
	EXPECT_EQ(mast::payload_check(shorter.data(), shorter.size()), nullptr);
	// A named table claiming less than its name header.
	std::vector<uint8_t> named = {0x82, 0, 0, 6, 0, 4, 'n', 'a', 'm', 'e', 0, 0};
	EXPECT_EQ(mast::payload_check(named.data(), named.size()), nullptr);
	named[3] = 12;
	EXPECT_NE(mast::payload_check(named.data(), named.size()), nullptr);

	auto levels = mast::split_topic("zev/wlc/telemetry/ap/ap1/response/ubus");
	ASSERT_EQ(levels.size(), 7u);
	EXPECT_EQ(levels[4], "ap1");
	EXPECT_EQ(mast::join_topic(levels, 127), "zev/wlc/telemetry/ap/ap1/response/ubus");
	EXPECT_EQ(mast::join_topic(levels, 19), "zev/wlc/telemetry"); // "/ap" would not fit whole
}

TEST(MastReaders, JoinAndPresenceRecords)
{
	wlc::BlobBuf join;
	join.add("fw_version", "1.2.3").add("fw_revision", "r1").add("model", "m").add("serial", "S").add("ip", "10.0.0.2");
	{
		auto config = join.table("config");
		join.add_u32("channel", 36);
	}
	auto len = [](const wlc::BlobBuf &b) { return blob_raw_len(b.head()); };
	wlc::BlobBuf rec;
	EXPECT_EQ(mast::read_join_request("ap1", join.head(), len(join), rec), mast::JoinRead::not_enough_data); // no cert
	join.add("cert", "PEM");
	rec.reset();
	ASSERT_EQ(mast::read_join_request("ap1", join.head(), len(join), rec), mast::JoinRead::ok);
	EXPECT_EQ(rec.json(), R"({"id":"ap1","cert":"PEM","fw_version":"1.2.3","fw_revision":"r1","model":"m","serial":"S",)"
			      R"("join_req":true,"ip":"10.0.0.2","custom_config":{"channel":36}})");
	EXPECT_EQ(mast::read_join_request("ap1", join.head(), 3, rec), mast::JoinRead::missing_payload);

	wlc::BlobBuf online;
	online.add_bool("online", true).add("model", "m");
	wlc::BlobBuf presence;
	EXPECT_TRUE(mast::read_presence("ap1", online.head(), len(online), presence));
	EXPECT_EQ(presence.json(), R"({"id":"ap1","model":"m","online":true})");
	wlc::BlobBuf gone;
	EXPECT_FALSE(mast::read_presence("ap1", online.head(), 2, gone)); // unreadable: offline
	EXPECT_EQ(gone.json(), R"({"id":"ap1","online":false})");
}

TEST(MastReaders, VersionAndConfig)
{
	wlc::BlobBuf version;
	version.add("version", "1.2.4");
	auto v = mast::read_version(version.head(), blob_raw_len(version.head()));
	ASSERT_TRUE(v);
	EXPECT_FALSE(v->revision);
	EXPECT_EQ(v->version, "1.2.4");
	EXPECT_FALSE(mast::read_version(version.head(), 1));

	wlc::BlobBuf config;
	config.add("id", "ap1").add_bool("draft", true);
	EXPECT_FALSE(mast::read_config(config.head(), blob_raw_len(config.head()))); // no configuration table
	{
		auto table = config.table("config");
		config.add("hostname", "ap1");
	}
	auto c = mast::read_config(config.head(), blob_raw_len(config.head()));
	ASSERT_TRUE(c);
	EXPECT_EQ(c->id, "ap1");
	EXPECT_TRUE(c->draft);
	EXPECT_EQ(c->json, R"({"hostname":"ap1"})");
}

// The AP's requests from the controller and what comes back: a field of the
// wrong type counts as missing, and tables handed on point into the payload.
TEST(MastReaders, FirmwareRequestResponseReconfigAndLog)
{
	auto len = [](const wlc::BlobBuf &b) { return blob_raw_len(b.head()); };
	wlc::BlobBuf fw;
	fw.add("path", "fw/ap.bin");
	EXPECT_FALSE(mast::read_firmware(fw.head(), len(fw))); // no port
	fw.add_u32("port", 8443);
	auto f = mast::read_firmware(fw.head(), len(fw));
	ASSERT_TRUE(f);
	EXPECT_EQ(f->path, "fw/ap.bin");
	EXPECT_EQ(f->port, 8443u);

	mast::TelemetryRequest req;
	EXPECT_EQ(mast::read_telemetry_request(fw.head(), 2, req), mast::RequestRead::bad_payload);
	wlc::BlobBuf request;
	request.add_u32("msg_id", 7);
	EXPECT_EQ(mast::read_telemetry_request(request.head(), len(request), req), mast::RequestRead::bad_request);
	{
		auto data = request.table("data");
		request.add("object", "system");
		request.add_u32("timeout", 500);
	}
	EXPECT_EQ(mast::read_telemetry_request(request.head(), len(request), req), mast::RequestRead::bad_command);
	wlc::BlobBuf call;
	call.add_u32("msg_id", 7);
	{
		auto data = call.table("data");
		call.add("object", "system").add("method", "board");
		auto message = call.table("message");
		call.add("name", "x");
	}
	ASSERT_EQ(mast::read_telemetry_request(call.head(), len(call), req), mast::RequestRead::ok);
	EXPECT_EQ(req.msg_id, 7u);
	EXPECT_EQ(req.object, "system");
	EXPECT_EQ(req.method, "board");
	EXPECT_FALSE(req.timeout_ms);
	EXPECT_EQ(wlc::BlobBuf().add_fields(req.message).json(), R"({"name":"x"})");

	wlc::BlobBuf response;
	response.add("msg_id", "12"); // a text id is no id
	EXPECT_FALSE(mast::read_response(response.head(), len(response)));
	wlc::BlobBuf answer;
	answer.add_u32("msg_id", 0xFFFFFFFFu);
	auto r = mast::read_response(answer.head(), len(answer));
	ASSERT_TRUE(r);
	EXPECT_EQ(r->id, -1);
	EXPECT_EQ(r->data, nullptr);

	EXPECT_EQ(mast::read_reconfig(answer.head(), len(answer)), 0xFFFFFFFFu);
	EXPECT_FALSE(mast::read_reconfig(fw.head(), len(fw)));

	wlc::BlobBuf entry;
	entry.add("msg", "line").add_u32("priority", 30);
	auto e = mast::read_log_entry(entry.head(), len(entry));
	ASSERT_TRUE(e);
	EXPECT_EQ(e->msg, "line");
	EXPECT_EQ(e->priority, 30u);
	wlc::BlobBuf no_priority;
	no_priority.add("msg", "line");
	EXPECT_FALSE(mast::read_log_entry(no_priority.head(), len(no_priority)));
}

TEST(MastLogFrames, EntriesWholeHoweverTheReadsSplitThem)
{
	std::string stream;
	std::vector<std::string> sent;
	for (const char *msg : {"first line", "a second, longer line of the log"}) {
		wlc::BlobBuf e;
		e.add("msg", msg).add_u32("priority", 6);
		sent.emplace_back(reinterpret_cast<const char *>(e.head()), blob_raw_len(e.head()));
		stream += sent.back();
	}
	mast::LogFrames frames;
	std::vector<std::string> got;
	for (char byte : stream)
		ASSERT_TRUE(frames.feed(&byte, 1, [&](const char *d, size_t l) { got.emplace_back(d, l); }));
	EXPECT_EQ(got, sent);
	EXPECT_EQ(frames.pending(), 0u);
	// A length shorter than a header, or longer than any log line, breaks the stream.
	const char tiny[4] = {0, 0, 0, 2};
	EXPECT_FALSE(frames.feed(tiny, 4, [](const char *, size_t) { FAIL(); }));
	frames.clear();
	const char huge[4] = {0, 1, 0, 4};
	EXPECT_FALSE(frames.feed(huge, 4, [](const char *, size_t) { FAIL(); }));
}

TEST(MastLed, PeriodsForStationCounts)
{
	EXPECT_EQ(mast::LedIndicator::period_for(0, 2000), 0u);
	EXPECT_EQ(mast::LedIndicator::period_for(4, 2000), 2000u);
	EXPECT_EQ(mast::LedIndicator::period_for(5, 2000), 1000u);
	EXPECT_EQ(mast::LedIndicator::period_for(16, 2000), 1000u);
	EXPECT_EQ(mast::LedIndicator::period_for(17, 2000), 500u);
}

TEST(MastCommand, SplitAtEverySingleSpace)
{
	using Args = std::vector<std::string>;
	EXPECT_EQ(mast::split_command("cmd \"a b\" c"), (Args{"cmd", "\"a", "b\"", "c"}));
	EXPECT_EQ(mast::split_command("a  b"), (Args{"a", "", "b"}));
	EXPECT_EQ(mast::split_command(" a "), (Args{"", "a", ""}));
	EXPECT_EQ(mast::split_command(""), (Args{""}));
}

class Runner : public ::testing::Test {
protected:
	void SetUp() override { uloop_init(); }
	void TearDown() override { uloop_done(); }

	std::string script(const std::string &name, const std::string &body)
	{
		std::string path = dir_.at("/bin/" + name);
		wlctest::write_text(path, "#!/bin/sh\n" + body);
		chmod(path.c_str(), 0755);
		return path;
	}
	wlctest::TempRoot dir_;
};

TEST_F(Runner, OneAtATimeWithWholeInput)
{
	std::string out = dir_.at("/out");
	std::string cmd = script("record", "echo start $1 >> " + out + "\ncat > " + dir_.path() + "/input.$1\nsleep 0.3\necho end $1 >> " + out + "\n");
	std::string big(300 * 1024, 'x'); // far more than a pipe holds
	auto &runner = mast::CommandRunner::instance();
	runner.run(cmd + " one", big);
	runner.run(cmd + " two", "small");
	ASSERT_TRUE(pump([&] { return wlctest::read_text(out).find("end two") != std::string::npos; }, 10s));
	EXPECT_EQ(wlctest::read_text(out), "start one\nend one\nstart two\nend two\n");
	EXPECT_EQ(wlctest::read_text(dir_.path() + "/input.one").size(), big.size());
	EXPECT_EQ(wlctest::read_text(dir_.path() + "/input.two"), "small");
}

TEST_F(Runner, EmptyWordsAreArguments)
{
	std::string out = dir_.at("/out");
	std::string cmd = script("args", "printf '[%s]' \"$@\" > " + out + "\necho \" $#\" >> " + out + "\n");
	mast::CommandRunner::instance().run(cmd + "  x ", "");
	ASSERT_TRUE(pump([&] { return wlctest::read_text(out).find('\n') != std::string::npos; }, 10s));
	EXPECT_EQ(wlctest::read_text(out), "[][x][] 3\n");
}

TEST_F(Runner, ProgramThatCannotRunEndsQuietlyAndTheQueueMovesOn)
{
	std::string log = dir_.at("/log");
	setenv("WLC_LOG_FILE", log.c_str(), 1);
	wlc::log_open("mast");
	std::string out = dir_.at("/out");
	std::string quick = script("quick", "echo quick $1 >> " + out + "\n");
	std::string plain = dir_.at("/bin/plain");
	wlctest::write_text(plain, "not a program\n"); // not executable
	auto &runner = mast::CommandRunner::instance();
	runner.run("/nonexistent/program", "");
	runner.run(quick + " one", "");
	runner.run(plain, "");
	runner.run(" " + quick, ""); // the program's name is the empty first word
	runner.run(quick + " two", "");
	bool done = pump([&] { return wlctest::read_text(out).find("quick two") != std::string::npos; }, 10s);
	wlc::log_close();
	unsetenv("WLC_LOG_FILE");
	ASSERT_TRUE(done);
	EXPECT_EQ(wlctest::read_text(out), "quick one\nquick two\n");
	EXPECT_EQ(wlctest::read_text(log), "");
}

TEST_F(Runner, HangingCommandIsLeftButReapedAndBadHeadDoesNotStall)
{
	std::string out = dir_.at("/out");
	std::string hang = script("hang", "sleep 5\necho hang done >> " + out + "\n");
	std::string quick = script("quick", "echo quick >> " + out + "\n");
	auto &runner = mast::CommandRunner::instance();
	runner.run("/nonexistent/program", "");
	runner.run(hang, "");
	runner.run(quick, "");
	auto start = std::chrono::steady_clock::now();
	ASSERT_TRUE(pump([&] { return wlctest::read_text(out).find("quick") != std::string::npos; }, 8s));
	auto waited = std::chrono::steady_clock::now() - start;
	EXPECT_GE(waited, 3900ms); // the hang held the queue for its 4 s
	EXPECT_LT(waited, 5000ms);
	EXPECT_EQ(runner.running_late(), 1u);
	ASSERT_TRUE(pump([&] { return runner.running_late() == 0; }, 5s)); // reaped when it ended
	EXPECT_NE(wlctest::read_text(out).find("hang done"), std::string::npos);
}

} // namespace

#include "core/status.h"

namespace {

TEST(MastStatus, RecordWithAndWithoutPeers)
{
	mast::Status status(mast::Role::Ap);
	EXPECT_EQ(status.record().json(), "{}"); // before the first change
	status.set("connect", "Connecting to %s", {{"10.0.0.1", 8883}, {"ctl.example", 0}});
	EXPECT_EQ(status.record().json(),
		  R"({"role":"ap","status":"connect","description":"Connecting to %s","peers":["10.0.0.1:8883","ctl.example"]})");
	mast::Status wlc(mast::Role::Wlc);
	wlc.set("wlc", "CONTROLLER");
	EXPECT_EQ(wlc.record().json(), R"({"role":"wlc","status":"wlc","description":"CONTROLLER"})");
}

} // namespace
