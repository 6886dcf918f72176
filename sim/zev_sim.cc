// zev_sim: the device simulator. Lays out the root of every device of a site
// file and answers their driver requests until stopped.
//   zev_sim [-n] [-c <control-socket>] <site.json>
//     -n  keep existing roots (do not lay them out again)
//     -c  accept script commands (see control/commands.h) on a Unix socket
#include <wlc/loop.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "control/commands.h"
#include "device/boot_slots.h"
#include "device/device_root.h"
#include "driver/server.h"
#include "site.h"
#include "switch/switch_server.h"

namespace {

struct ControlClient {
	wlc::UniqueFd fd;
	std::unique_ptr<wlc::FdWatch> watch;
	std::string pending;
};

class Control {
public:
	Control(sim::World &world, sim::DriverServer &server) : world_(world), server_(server) {}

	bool listen(const std::string &path)
	{
		sockaddr_un addr = {};
		addr.sun_family = AF_UNIX;
		if (path.size() >= sizeof(addr.sun_path))
			return false;
		std::string temp = path + ".new";
		if (temp.size() >= sizeof(addr.sun_path))
			return false;
		std::memcpy(addr.sun_path, temp.c_str(), temp.size() + 1);
		unlink(temp.c_str());
		fd_.reset(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
		if (!fd_ || bind(fd_.get(), reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) < 0 ||
		    ::listen(fd_.get(), 8) < 0 || rename(temp.c_str(), path.c_str()) < 0)
			return false;
		watch_ = std::make_unique<wlc::FdWatch>(fd_.get(), [this](unsigned) { accept_one(); });
		return watch_->start(ULOOP_READ);
	}

private:
	void accept_one()
	{
		clients_.remove_if([](const std::unique_ptr<ControlClient> &c) { return !c->fd; });
		int fd = accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
		if (fd < 0)
			return;
		auto c = std::make_unique<ControlClient>();
		c->fd.reset(fd);
		ControlClient *raw = c.get();
		c->watch = std::make_unique<wlc::FdWatch>(fd, [this, raw](unsigned) { read_lines(*raw); });
		c->watch->start(ULOOP_READ);
		clients_.push_back(std::move(c));
	}

	void read_lines(ControlClient &c)
	{
		char buf[1024];
		ssize_t n = read(c.fd.get(), buf, sizeof(buf));
		if (n <= 0) {
			c.watch->stop();
			c.fd.reset();
			return;
		}
		c.pending.append(buf, static_cast<size_t>(n));
		size_t nl;
		while ((nl = c.pending.find('\n')) != std::string::npos) {
			std::string reply = sim::run_command(world_, server_, c.pending.substr(0, nl)) + "\n";
			c.pending.erase(0, nl + 1);
			if (write(c.fd.get(), reply.data(), reply.size()) < 0)
				break;
		}
	}

	sim::World &world_;
	sim::DriverServer &server_;
	wlc::UniqueFd fd_;
	std::unique_ptr<wlc::FdWatch> watch_;
	std::list<std::unique_ptr<ControlClient>> clients_;
};

// Lets the simulated CPUs' time pass, one second at a time.
class CpuTicker {
public:
	explicit CpuTicker(sim::World &world) : world_(world), timer_([this] { tick(); }) { timer_.set(1000); }

private:
	void tick()
	{
		for (sim::Ap &ap : world_.aps()) {
			ap.cpu.advance(1);
			ap.cpu.write(ap.device.root);
		}
		timer_.set(1000);
	}

	sim::World &world_;
	wlc::Timer timer_;
};

// The running slot's root file system is in use: its block device exists
// while the device runs.
void attach_running_slots(sim::World &world, bool attach)
{
	std::string why;
	for (sim::Ap &ap : world.aps()) {
		if (!ap.device.boot_slots)
			continue;
		std::string volume = sim::slot_volume(ap.device.running_slot);
		if (attach ? !sim::ubi_block_create(ap.device.root, volume, why)
			   : !sim::ubi_block_remove(ap.device.root, volume, why))
			std::fprintf(stderr, "zev_sim: %s %s: %s\n", ap.device.name.c_str(), volume.c_str(), why.c_str());
	}
}

int usage(const char *prog)
{
	std::fprintf(stderr, "Usage: %s [-n] [-c <control-socket>] <site.json>\n", prog);
	return 1;
}

} // namespace

int main(int argc, char **argv)
{
	bool lay_out = true;
	std::string control_path;
	int ch;
	while ((ch = getopt(argc, argv, "nc:")) != -1) {
		if (ch == 'n')
			lay_out = false;
		else if (ch == 'c')
			control_path = optarg;
		else
			return usage(argv[0]);
	}
	if (optind != argc - 1)
		return usage(argv[0]);
	sim::World world;
	std::string why;
	if (!sim::load_site(argv[optind], world, why)) {
		std::fprintf(stderr, "zev_sim: %s\n", why.c_str());
		return 1;
	}
	uloop_init();
	int ret = 0;
	{
		sim::DriverServer server(world);
		sim::SwitchServer switches(world);
		Control control(world, server);
		for (sim::Ap &ap : world.aps()) {
			if (lay_out)
				sim::lay_out(ap.device);
			if (!server.serve(ap.device.name) || !switches.serve(ap.device.name)) {
				std::fprintf(stderr, "zev_sim: cannot serve %s under %s\n", ap.device.name.c_str(), ap.device.root.c_str());
				ret = 1;
			}
		}
		if (!control_path.empty() && !control.listen(control_path)) {
			std::fprintf(stderr, "zev_sim: cannot listen on %s\n", control_path.c_str());
			ret = 1;
		}
		if (ret == 0) {
			attach_running_slots(world, true);
			CpuTicker ticker(world);
			uloop_run();
			attach_running_slots(world, false);
		}
	}
	uloop_done();
	return ret;
}
