// Corrupted, truncated and foreign files where the daemons keep state: the
// report store and an AP's /etc/wlc. The daemon starts, keeps serving, sets
// aside what it cannot read and says so in its log.
#include <gtest/gtest.h>

#include <filesystem>

#include "ctrl_process.h"

namespace {

using namespace std::chrono_literals;

class BadStoreFiles : public faulttest::CtrlProcessTest {
protected:
	std::string file(const std::string &ap, const std::string &kind) const
	{
		return root_->path() + "/etc/wlc/rrm/radio1/" + ap + "/" + kind + ".blob";
	}
	std::string list(const std::string &ap, const std::string &kind)
	{
		std::string reply;
		int status = call_json(object_, "report_list", R"({"type":")" + kind + R"(","id":")" + ap + R"("})", &reply);
		return status == 0 ? reply : "status " + std::to_string(status);
	}
};

TEST_F(BadStoreFiles, AreSetAsideAndTheRestLoads)
{
	run_ctrl();
	report_site(rrmtest::worked_site());
	std::string good = wlctest::read_text(file("a", "radio"));
	std::string d_radio = list("d", "radio");
	ctrl_proc_->kill(SIGTERM);
	ctrl_proc_->wait(20s);

	// b: cut in the middle; c: bytes of no format; d's bss: a text file in its place.
	std::string bss_b = wlctest::read_text(file("b", "bss"));
	wlctest::write_text(file("b", "bss"), bss_b.substr(0, bss_b.size() / 2));
	static const char noise[] = "\x7f\xff\xff\xff garbage \x00\x01";
	wlctest::write_text(file("c", "radio"), std::string(noise, sizeof(noise) - 1));
	wlctest::write_text(file("d", "bss"), "{\"reports\": []}\n");
	// A header that claims more than a file may hold.
	static const char oversized[] = "\x00\x10\x00\x08\x00\x00\x00\x00";
	wlctest::write_text(file("c", "bss"), std::string(oversized, sizeof(oversized) - 1));
	run_ctrl();

	std::string log = ctrl_log();
	for (const std::string &bad : {file("b", "bss"), file("c", "radio"), file("d", "bss"), file("c", "bss")}) {
		EXPECT_NE(log.find("rrm_ctrl.warning: [site1/1] refused report file " + bad), std::string::npos) << log;
		EXPECT_FALSE(std::filesystem::exists(bad)) << bad;
		EXPECT_TRUE(std::filesystem::exists(bad + ".bad")) << bad; // kept for a look
	}
	EXPECT_EQ(wlctest::read_text(file("a", "radio")), good);
	EXPECT_EQ(list("d", "radio"), d_radio);
	EXPECT_EQ(list("c", "radio"), "status 5"); // nothing of c could be read
	// Still serving: a new report of c is taken and written afresh.
	rrm::RadioReport r;
	r.channel = 6;
	EXPECT_EQ(report_add("radio", "c", [&](wlc::BlobBuf &b) { rrm::encode_radio(b, r); }), 0);
	EXPECT_TRUE(std::filesystem::exists(file("c", "radio")));
	EXPECT_NE(list("c", "radio").find("\"ts\""), std::string::npos);
}

} // namespace
