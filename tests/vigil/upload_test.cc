// send_file against real servers in a network namespace of the test's own:
// lighttpd with WebDAV (PUT) and vsftpd (anonymous upload).
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "broker.h"
#include "vigil_fixture.h"

namespace fs = std::filesystem;

namespace vigiltest {
namespace {

using wlctest::port_open;

std::string pattern(size_t n, char seed)
{
	std::string s(n, '\0');
	for (size_t i = 0; i < n; i++)
		s[i] = static_cast<char>(seed + i % 23);
	return s;
}

class Upload : public VigilTest {
protected:
	void SetUp() override
	{
		VigilTest::SetUp();
		if (geteuid() != 0 || !wlctest::enter_private_netns())
			GTEST_SKIP() << "needs root and network namespaces";
		start_site();
		start_http();
		start_vigil();
	}
	void TearDown() override
	{
		for (auto &p : servers_)
			p.reset();
		VigilTest::TearDown();
	}
	void start_http()
	{
		std::string dir = root_->path() + "/http";
		fs::create_directories(dir + "/www/up");
		wlctest::write_text(dir + "/lighttpd.conf",
			"server.document-root = \"" + dir + "/www\"\nserver.port = 8080\nserver.bind = \"127.0.0.1\"\n"
			"server.modules = (\"mod_redirect\", \"mod_webdav\")\nserver.pid-file = \"" + dir + "/pid\"\n"
			"server.errorlog = \"" + dir + "/error.log\"\n"
			"$HTTP[\"url\"] =~ \"^/up/\" {\n\twebdav.activate = \"enable\"\n\twebdav.is-readonly = \"disable\"\n}\n"
			"url.redirect = (\"^/moved/(.*)\" => \"http://127.0.0.1:8080/up/$1\")\n");
		servers_.push_back(std::make_unique<wlctest::Process>(
			std::vector<std::string>{"/usr/sbin/lighttpd", "-D", "-f", dir + "/lighttpd.conf"}));
		ASSERT_TRUE(wlctest::wait_until([] { return port_open(8080); }, 20s));
	}
	void start_ftp()
	{
		std::string dir = root_->path() + "/ftp";
		fs::create_directories(dir + "/root/incoming");
		fs::create_directories(dir + "/empty");
		fs::permissions(dir + "/root", fs::perms(0555));
		fs::permissions(dir + "/root/incoming", fs::perms(0777));
		wlctest::write_text(dir + "/vsftpd.conf",
			"listen=YES\nlisten_address=127.0.0.1\nlisten_port=2121\nbackground=NO\nanonymous_enable=YES\n"
			"local_enable=NO\nwrite_enable=YES\nanon_upload_enable=YES\nanon_root=" + dir + "/root\n"
			"anon_umask=022\nsecure_chroot_dir=" + dir + "/empty\nseccomp_sandbox=NO\npasv_enable=YES\n"
			"pasv_address=127.0.0.1\nxferlog_enable=NO\nvsftpd_log_file=" + dir + "/log\n");
		servers_.push_back(std::make_unique<wlctest::Process>(
			std::vector<std::string>{"/usr/sbin/vsftpd", dir + "/vsftpd.conf"}));
		ASSERT_TRUE(wlctest::wait_until([] { return port_open(2121); }, 20s));
	}
	std::string uploaded(const std::string &name) { return wlctest::read_text(root_->path() + "/http/www/up/" + name); }
	bool exists_on_server(const std::string &name) { return fs::exists(root_->path() + "/http/www/up/" + name); }
	// Whether vigil has the device file open (the upload has begun reading it).
	bool vigil_reads(const std::string &abs)
	{
		std::string fds = "/proc/" + std::to_string(vigil_->pid()) + "/fd";
		std::error_code ec;
		for (const auto &e : fs::directory_iterator(fds, ec))
			if (fs::read_symlink(e.path(), ec) == fs::path(dev(abs)))
				return true;
		return false;
	}

	std::vector<std::unique_ptr<wlctest::Process>> servers_;
};

TEST_F(Upload, OneFileByPut)
{
	std::string body = pattern(300000, 'a');
	wlctest::write_text(dev("/tmp/diag.log"), body);
	std::string r;
	ASSERT_EQ(call("send_file", R"({"url": "http://127.0.0.1:8080/up/diag.log", "file": "/tmp/diag.log"})", &r), 0);
	EXPECT_EQ(r, "{\"size\":300000}") << log_text();
	EXPECT_EQ(uploaded("diag.log"), body);
	EXPECT_TRUE(fs::exists(dev("/tmp/diag.log")));
}

// Read calls vigil has made so far (the kernel's count for the process).
uint64_t read_calls(pid_t pid)
{
	std::ifstream in("/proc/" + std::to_string(pid) + "/io");
	std::string key;
	uint64_t value = 0;
	while (in >> key >> value)
		if (key == "syscr:")
			return value;
	return 0;
}

// A large file goes out whole, read in large blocks: a few reads per MiB
// rather than one per small buffer of the transfer.
TEST_F(Upload, LargeFileIsReadInLargeBlocks)
{
	constexpr size_t kMiB = 1 << 20;
	std::string body = pattern(16 * kMiB + 12345, 'A');
	wlctest::write_text(dev("/tmp/big.bin"), body);
	uint64_t before = read_calls(vigil_->pid());
	ASSERT_GT(before, 0u);
	std::string r;
	ASSERT_EQ(call("send_file", R"({"url": "http://127.0.0.1:8080/up/big.bin", "file": "/tmp/big.bin"})", &r), 0);
	uint64_t reads = read_calls(vigil_->pid()) - before;
	EXPECT_EQ(r, "{\"size\":" + std::to_string(body.size()) + "}") << log_text();
	EXPECT_TRUE(uploaded("big.bin") == body);
	EXPECT_LT(reads, 4 * 17u) << "read calls for a 16 MiB upload";
}

TEST_F(Upload, ConcatenationSkipsMissingPathsAndRemoves)
{
	std::string a = pattern(1000, 'a'), b = pattern(5000, 'k');
	wlctest::write_text(dev("/tmp/a"), a);
	wlctest::write_text(dev("/tmp/b"), b);
	std::string r;
	ASSERT_EQ(call("send_file", R"({"url": "http://127.0.0.1:8080/up/ab", "concat": ["/tmp/a", "/tmp/missing", "/tmp/b"],
					 "remove": true})", &r), 0);
	EXPECT_EQ(r, "{\"size\":6000}");
	EXPECT_EQ(uploaded("ab"), a + b);
	EXPECT_FALSE(fs::exists(dev("/tmp/a")));
	EXPECT_FALSE(fs::exists(dev("/tmp/b")));
	// Only missing paths: an empty body.
	ASSERT_EQ(call("send_file", R"({"url": "http://127.0.0.1:8080/up/none", "concat": ["/tmp/x", "/tmp/y"]})", &r), 0);
	EXPECT_EQ(r, "{\"size\":0}");
	EXPECT_EQ(uploaded("none"), "");
}

TEST_F(Upload, HttpErrorsAndRedirectsAreFailuresAndKeepTheFiles)
{
	wlctest::write_text(dev("/tmp/a"), "data");
	std::string r;
	ASSERT_EQ(call("send_file", R"({"url": "http://127.0.0.1:8080/nothere/a", "file": "/tmp/a", "remove": true})", &r), 0);
	EXPECT_EQ(r, "{\"error\":\"http error: 404\"}");
	EXPECT_TRUE(fs::exists(dev("/tmp/a")));
	// A PUT that is redirected has not been stored.
	ASSERT_EQ(call("send_file", R"({"url": "http://127.0.0.1:8080/moved/a", "file": "/tmp/a", "remove": true})", &r), 0);
	EXPECT_EQ(r, "{\"error\":\"http error: 301\"}");
	EXPECT_TRUE(fs::exists(dev("/tmp/a")));
	EXPECT_FALSE(exists_on_server("a"));
	// Nobody listens: curl's own words.
	ASSERT_EQ(call("send_file", R"({"url": "http://127.0.0.1:1/a", "file": "/tmp/a"})", &r), 0);
	EXPECT_NE(field(r, "error").find("onnect"), std::string::npos) << r;
}

TEST_F(Upload, ByFtp)
{
	start_ftp();
	std::string body = pattern(70000, 'f');
	wlctest::write_text(dev("/tmp/f"), body);
	std::string r;
	ASSERT_EQ(call("send_file", R"({"url": "ftp://127.0.0.1:2121/incoming/f", "file": "/tmp/f"})", &r), 0);
	EXPECT_EQ(r, "{\"size\":70000}") << log_text();
	EXPECT_EQ(wlctest::read_text(root_->path() + "/ftp/root/incoming/f"), body);
	ASSERT_EQ(call("send_file", R"({"url": "ftp://127.0.0.1:2121/nope/f", "file": "/tmp/f", "remove": true})", &r), 0);
	EXPECT_NE(field(r, "error"), "<absent>") << r;
	EXPECT_TRUE(fs::exists(dev("/tmp/f")));
}

TEST_F(Upload, BadArguments)
{
	fs::create_directories(dev("/tmp/dir"));
	wlctest::write_text(dev("/tmp/a"), "a");
	struct Case {
		std::string args;
		int status;
		std::string reply;
	};
	std::string big(4096, 'u');
	for (const Case &c : std::vector<Case>{
		     {"{}", 2, "url is required"},
		     {R"({"url": 5, "file": "/tmp/a"})", 2, "url is required"},
		     {R"({"url": "", "file": "/tmp/a"})", 2, "url is empty"},
		     {R"({"url": "http://h/x", "file": "/tmp/a", "concat": ["/tmp/a"]})", 2, "file and concat are mutually exclusive"},
		     {R"({"url": "http://h/x"})", 2, "file or concat is required"},
		     {R"({"url": "http://h/x", "file": ""})", 2, "empty path"},
		     {R"({"url": "http://h/x", "file": "/tmp/nope"})", 4, "file not found: /tmp/nope"},
		     {R"({"url": "http://h/x", "file": "/tmp/dir"})", 2, "not a regular file: /tmp/dir"},
		     {R"({"url": "http://h/x", "concat": []})", 2, "concat is empty"},
		     {R"({"url": "http://h/x", "concat": ["/tmp/a", 7]})", 2, "invalid concat"},
		     {R"({"url": "http://h/x", "concat": ["/tmp/a", ""]})", 2, "empty path"},
		     {R"({"url": "http://h/x", "concat": ["/tmp/dir"]})", 2, "not a regular file: /tmp/dir"},
		     // Local files and SSH transfers are never written to.
		     {R"({"url": "file:///etc/shadow", "file": "/tmp/a"})", 2, "unsupported protocol: file"},
		     {R"({"url": "FILE:///etc/shadow", "file": "/tmp/a"})", 2, "unsupported protocol: FILE"},
		     {R"({"url": "scp://h/x", "file": "/tmp/a"})", 2, "unsupported protocol: scp"},
		     {R"({"url": "sftp://h/x", "file": "/tmp/a"})", 2, "unsupported protocol: sftp"},
		     {R"({"url": "/up/x", "file": "/tmp/a"})", 2, "unsupported protocol: /up/x"},
		     {R"({"url": "http://h/x", "file": ")" + big + "\"}", 4, ("file not found: " + big).substr(0, 255)}}) {
		std::string r;
		EXPECT_EQ(call("send_file", c.args, &r), c.status) << c.args.substr(0, 80);
		EXPECT_EQ(text_field(r, "error"), c.reply) << c.args.substr(0, 80);
	}
	EXPECT_TRUE(fs::exists(dev("/tmp/a")));
}

class UploadDuring : public Upload {
protected:
	// Starts a concatenation of a large file and /tmp/b and waits until the
	// large one is being read: /tmp/b's size is taken by then.
	void start_big(wlc::AsyncCall &c, std::string &reply, bool &done)
	{
		wlctest::write_text(dev("/tmp/big"), pattern(60 * 1000 * 1000, 'B'));
		wlc::BlobBuf args;
		ASSERT_TRUE(args.add_json(R"({"url": "http://127.0.0.1:8080/up/out", "concat": ["/tmp/big", "/tmp/b"]})"));
		client_.call_async(client_.lookup("vigil"), "send_file", args, c,
				   [&](blob_attr *msg) { reply = wlc::BlobBuf().add_fields(msg).json(); },
				   [&](int) { done = true; });
		ASSERT_TRUE(wlctest::pump([&] { return vigil_reads("/tmp/big") || done; }, 20s));
		ASSERT_FALSE(done) << reply;
	}
};

TEST_F(UploadDuring, AGrowingFileIsSentAtItsFormerSize)
{
	wlctest::write_text(dev("/tmp/b"), "0123456789");
	wlc::AsyncCall c;
	std::string reply;
	bool done = false;
	start_big(c, reply, done);
	std::ofstream(dev("/tmp/b"), std::ios::app) << "grown after the request";
	// The service answers meanwhile.
	EXPECT_EQ(call("health"), 0);
	ASSERT_TRUE(wlctest::pump([&] { return done; }, 60s));
	EXPECT_EQ(reply, "{\"size\":60000010}");
	std::string out = uploaded("out");
	EXPECT_EQ(out.size(), 60000010u);
	EXPECT_EQ(out.substr(out.size() - 10), "0123456789");
}

TEST_F(UploadDuring, AShrunkenFileAbortsTheUpload)
{
	wlctest::write_text(dev("/tmp/b"), "0123456789");
	wlc::AsyncCall c;
	std::string reply;
	bool done = false;
	start_big(c, reply, done);
	fs::resize_file(dev("/tmp/b"), 3);
	ASSERT_TRUE(wlctest::pump([&] { return done; }, 60s));
	EXPECT_NE(field(reply, "error"), "<absent>") << reply;
}

TEST_F(UploadDuring, APathSwappedForAFifoDoesNotStallTheService)
{
	wlctest::write_text(dev("/tmp/b"), "0123456789");
	wlc::AsyncCall c;
	std::string reply;
	bool done = false;
	start_big(c, reply, done);
	std::string fifo = dev("/tmp/b.fifo");
	ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
	fs::rename(fifo, dev("/tmp/b"));
	ASSERT_TRUE(wlctest::pump([&] { return done; }, 60s));
	EXPECT_NE(field(reply, "error"), "<absent>") << reply;
	EXPECT_EQ(call("health"), 0);
}

} // namespace
} // namespace vigiltest
