// The aggressive-mode switch.
#include "mode_timer.h"

#include <wlc/blob.h>
#include <wlc/c/ubus.h>

#include <algorithm>
#include <array>

namespace rrm {

std::optional<int> seconds_to_ms(int64_t s)
{
	if (s > max_mode_timeout_s)
		return std::nullopt;
	return static_cast<int>(std::max<int64_t>(s, 0) * 1000);
}

ModeTimer::ModeTimer(Callbacks cb)
	: cb_(std::move(cb)), timer_([this] {
		  if (cb_.on_leave)
			  cb_.on_leave(true);
	  })
{
}

bool ModeTimer::enable(int64_t timeout_s)
{
	std::optional<int> ms = seconds_to_ms(timeout_s);
	if (!ms)
		return false;
	if (!active() && cb_.on_enter)
		cb_.on_enter();
	if (cb_.on_refresh)
		cb_.on_refresh(static_cast<int>(timeout_s));
	timer_.set(*ms);
	return true;
}

void ModeTimer::disable()
{
	if (!active())
		return;
	timer_.cancel();
	if (cb_.on_leave)
		cb_.on_leave(false);
}

int ModeTimer::handle(blob_attr *msg)
{
	static const std::array<blobmsg_policy, 2> policy = {{{"enable", BLOBMSG_TYPE_BOOL}, {"timeout", BLOBMSG_TYPE_INT32}}};
	wlc::Fields<2> f;
	if (!f.parse(policy, msg) || !f.has(0))
		return UBUS_STATUS_INVALID_ARGUMENT;
	if (!*f.boolean(0)) {
		disable();
		return 0;
	}
	if (!f.has(1))
		return UBUS_STATUS_INVALID_ARGUMENT;
	return enable(static_cast<int32_t>(*f.u32(1))) ? 0 : UBUS_STATUS_INVALID_ARGUMENT;
}

} // namespace rrm
