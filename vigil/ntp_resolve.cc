// Asynchronous name lookups.
#include "ntp_resolve.h"

#include <wlc/log.h>
#include <zev/util.h>

#include <arpa/inet.h>
#include <cstring>
#include <memory>
#include <netdb.h>

namespace vigil::ntp {

namespace {

constexpr uint16_t kNtpPort = 123;

// One lookup and everything the resolver thread reads while it runs.
struct Lookup {
	std::string name;
	addrinfo hints = {};
	gaicb cb = {};

	explicit Lookup(std::string n) : name(std::move(n))
	{
		hints.ai_family = AF_INET;
		hints.ai_socktype = SOCK_DGRAM;
		cb.ar_name = name.c_str();
		cb.ar_service = "123";
		cb.ar_request = &hints;
	}
	~Lookup()
	{
		if (cb.ar_result)
			freeaddrinfo(cb.ar_result);
	}
	Lookup(const Lookup &) = delete;
	Lookup &operator=(const Lookup &) = delete;
};

// Lookups that could not be cancelled: the resolver still writes into them.
std::vector<std::unique_ptr<Lookup>> &orphans()
{
	static std::vector<std::unique_ptr<Lookup>> list;
	return list;
}

void reap_orphans()
{
	auto &list = orphans();
	std::erase_if(list, [](const auto &l) { return gai_error(&l->cb) != EAI_INPROGRESS; });
}

struct Wait {
	std::vector<gaicb *> list;
	int completed = 0;
};

// One step of the wait: sleeps until a lookup ends or the time is up, then
// counts the lookups that have ended (not the wake-ups).
bool wait_step(void *user, int64_t remaining_ms) noexcept
{
	auto &w = *static_cast<Wait *>(user);
	if (remaining_ms > 0) {
		timespec ts = {static_cast<time_t>(remaining_ms / 1000), static_cast<long>(remaining_ms % 1000) * 1000000};
		std::vector<const gaicb *> pending;
		for (gaicb *cb : w.list)
			pending.push_back(gai_error(cb) == EAI_INPROGRESS ? cb : nullptr);
		gai_suspend(pending.data(), static_cast<int>(pending.size()), &ts);
	}
	w.completed = 0;
	for (gaicb *cb : w.list)
		w.completed += gai_error(cb) != EAI_INPROGRESS ? 1 : 0;
	return w.completed == static_cast<int>(w.list.size());
}

std::optional<sockaddr_in> take_result(std::unique_ptr<Lookup> &l)
{
	if (gai_error(&l->cb) != 0) {
		if (gai_cancel(&l->cb) == EAI_NOTCANCELED)
			orphans().push_back(std::move(l));
		return std::nullopt;
	}
	const addrinfo *ai = l->cb.ar_result;
	if (!ai || ai->ai_family != AF_INET || ai->ai_addrlen < sizeof(sockaddr_in))
		return std::nullopt;
	sockaddr_in a;
	std::memcpy(&a, ai->ai_addr, sizeof(a));
	a.sin_port = htons(kNtpPort);
	return a;
}

} // namespace

std::optional<std::vector<std::optional<sockaddr_in>>> resolve(const std::vector<std::string> &names, int limit_ms)
{
	reap_orphans();
	std::vector<std::optional<sockaddr_in>> out(names.size());
	std::vector<std::unique_ptr<Lookup>> lookups(names.size());
	Wait w;
	for (size_t i = 0; i < names.size(); i++) {
		sockaddr_in a = {};
		a.sin_family = AF_INET;
		a.sin_port = htons(kNtpPort);
		if (inet_pton(AF_INET, names[i].c_str(), &a.sin_addr) == 1) {
			out[i] = a;
			continue;
		}
		lookups[i] = std::make_unique<Lookup>(names[i]);
		w.list.push_back(&lookups[i]->cb);
	}
	if (w.list.empty())
		return out;
	// A failed submission leaves its names unresolved (any lookup it did
	// queue is cancelled or kept below like the others).
	if (getaddrinfo_a(GAI_NOWAIT, w.list.data(), static_cast<int>(w.list.size()), nullptr) == 0) {
		bool all = zev_util_retry_timeout(limit_ms, wait_step, &w) == 0;
		int n = static_cast<int>(w.list.size());
		if (all)
			wlc::logf(LOG_INFO, "[ntp] DNS lookup completed: %d/%d hosts completed", w.completed, n);
		else
			wlc::logf(LOG_INFO, "[ntp] DNS lookup timed out: only %d/%d hosts resolved", w.completed, n);
	}
	for (size_t i = 0; i < names.size(); i++)
		if (lookups[i])
			out[i] = take_result(lookups[i]);
	return out;
}

} // namespace vigil::ntp
