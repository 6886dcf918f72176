// The controller test fixture.
#include "ctrl_fixture.h"

namespace rrmtest {

void SiteModel::ap(const std::string &id, int channel, int power)
{
	radios[id].channel = channel;
	radios[id].power = power;
	radios[id].bssids = {bssid(id)};
}

void SiteModel::hear(const std::string &a, const std::string &b, int r)
{
	rssi[{a, b}] = r;
	rssi[{b, a}] = r;
}

rrm::Mac SiteModel::bssid(const std::string &id)
{
	return {0x02, 0x00, static_cast<uint8_t>(id.size()), static_cast<uint8_t>(id[0]), static_cast<uint8_t>(id.back()), 1};
}

rrm::BssList SiteModel::heard_by(const std::string &id) const
{
	rrm::BssList out;
	for (const auto &[pair, r] : rssi) {
		auto target = radios.find(pair.second);
		if (pair.first != id || target == radios.end())
			continue;
		zev_wifi_bss b{};
		rrm::Mac m = bssid(pair.second);
		std::copy(m.begin(), m.end(), b.bssid);
		b.channel = static_cast<uint32_t>(target->second.channel);
		b.rssi = r;
		out.push_back(b);
	}
	return out;
}

SiteModel worked_site()
{
	SiteModel s;
	for (const char *id : {"a", "b", "c", "d"})
		s.ap(id, 6);
	s.hear("a", "b", -60);
	s.hear("a", "c", -70);
	s.hear("b", "c", -80);
	s.hear("c", "d", -60);
	s.hear("b", "d", -90);
	return s;
}

void CtrlTest::SetUp()
{
	BusTest::SetUp();
	add_bridge();
}

void CtrlTest::TearDown()
{
	ctrl_.reset();
	ctrl_bus_.close();
	BusTest::TearDown();
}

void CtrlTest::start(std::vector<std::string> extra)
{
	std::vector<std::string> args = {"-p", "pol", "-s", "site1", "-b", "1", "-c", "1", "-c", "6", "-c", "11",
					 "-w", "20", "-n", "medium", "-r", "graceful", "-l", "10", "-h", "20"};
	args.insert(args.end(), extra.begin(), extra.end());
	auto cfg = rrm::parse_controller_config(args);
	ASSERT_TRUE(cfg);
	if (!ctrl_bus_.connected()) {
		ASSERT_TRUE(ctrl_bus_.connect(bus_->socket()));
		ctrl_bus_.watch();
	}
	ctrl_ = std::make_unique<rrm::Controller>(*cfg, ctrl_bus_, [this] { return now_; });
	ASSERT_EQ(ctrl_->start(), 0);
	ASSERT_TRUE(wlctest::pump([this] { return client_.lookup(object_) != 0; }));
}

int CtrlTest::report_add(const std::string &type, const std::string &id, const std::function<void(wlc::BlobBuf &)> &encode)
{
	return call(object_, "report_add", [&](wlc::BlobBuf &b) {
		b.add("type", type);
		b.add("id", id);
		auto data = b.table("data");
		encode(b);
	});
}

void CtrlTest::report_site(const SiteModel &site)
{
	for (const auto &entry : site.radios) {
		const auto &id = entry.first;
		const auto &radio = entry.second;
		EXPECT_EQ(report_add("bss", id, [&](wlc::BlobBuf &b) { rrm::encode_bss(b, site.heard_by(id)); }), 0);
		EXPECT_EQ(report_add("radio", id, [&](wlc::BlobBuf &b) { rrm::encode_radio(b, radio); }), 0);
	}
}

std::string CtrlTest::model_json()
{
	std::string reply;
	int status = call_json(object_, "model", "{}", &reply);
	return status == 0 ? reply : "status " + std::to_string(status);
}

} // namespace rrmtest
