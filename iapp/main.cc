// iapp: the fast-roaming key exchange daemon of an access point.
#include <wlc/bus.h>
#include <wlc/log.h>
#include <wlc/loop.h>
#include <zev/devinfo.h>
#include <zev/wifi.h>

#include <memory>

#include "options.h"
#include "service.h"

namespace {

// The driver's event socket, watched while subscribed.
class DriverEvents {
public:
	explicit DriverEvents(iapp::Service &service) : table_(service.event_table()) {}
	~DriverEvents()
	{
		watch_.reset();
		if (fd_ >= 0)
			zev_wifi_unsubscribe(fd_);
	}
	DriverEvents(const DriverEvents &) = delete;
	DriverEvents &operator=(const DriverEvents &) = delete;

	bool start()
	{
		fd_ = zev_wifi_subscribe();
		if (fd_ < 0)
			return false;
		watch_ = std::make_unique<wlc::FdWatch>(fd_, [this](unsigned) { (void)zev_wifi_event_process(fd_, &table_); });
		return watch_->start(ULOOP_READ);
	}

private:
	zev_wifi_event_cb table_;
	int fd_ = -1;
	std::unique_ptr<wlc::FdWatch> watch_;
};

void run(int argc, char **argv)
{
	wlc::Bus bus;
	if (!bus.connect()) {
		wlc::logf(LOG_ERR, "Failed to connect to ubus");
		return;
	}
	std::optional<iapp::Options> opts = iapp::parse_options(argc, argv);
	if (!opts) {
		wlc::logf(LOG_ERR, "Failed to parse options");
		return;
	}
	const char *id = zev_devinfo_id();
	iapp::Service service(std::move(*opts), bus, id ? id : "");
	if (service.add() != UBUS_STATUS_OK) {
		wlc::logf(LOG_ERR, "Failed to init ubus methods");
		return;
	}
	uloop_init();
	bus.watch();
	{
		DriverEvents events(service);
		if (!events.start())
			wlc::logf(LOG_ERR, "Failed to subscribe for wifi events");
		else
			uloop_run();
	}
	service.remove();
	bus.close();
	uloop_done();
}

} // namespace

int main(int argc, char **argv)
{
	wlc::log_open("iapp");
	wlc::logf(LOG_INFO, "Starting IAPP daemon...");
	run(argc, argv);
	wlc::logf(LOG_INFO, "Stop IAPP daemon");
	wlc::log_close();
	return 255;
}
