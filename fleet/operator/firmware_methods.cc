// The operator's firmware methods.
#include "firmware_methods.h"

#include <wlc/log.h>

#include <array>
#include <set>

#include "common/identifiers.h"
#include "common/message_check.h"
#include "operator/call_replies.h"
#include "firmware/image_dir.h"

namespace fleet {

namespace {

enum { I_IMAGE, I_MODEL, I_MAX };
const std::array<blobmsg_policy, I_MAX> kImagePolicy = {{{"image", BLOBMSG_TYPE_STRING}, {"model", BLOBMSG_TYPE_STRING}}};
enum { R_VERSION, R_REVISION, R_SITE, R_PARALLEL, R_FAILURES, R_TIMEOUT, R_MAX };
const std::array<blobmsg_policy, R_MAX> kStartPolicy = {{
	{"version", BLOBMSG_TYPE_STRING}, {"revision", BLOBMSG_TYPE_STRING}, {"site", BLOBMSG_TYPE_STRING},
	{"max_parallel", BLOBMSG_TYPE_INT32}, {"max_failures", BLOBMSG_TYPE_INT32}, {"timeout", BLOBMSG_TYPE_INT32},
}};
enum { S_ID, S_MAX };
const std::array<blobmsg_policy, S_MAX> kShowPolicy = {{{"id", BLOBMSG_TYPE_INT32}}};
const std::array<blobmsg_policy, 0> kNoPolicy = {};

constexpr size_t kMaxVersionLen = 63;
constexpr int32_t kMaxParallel = 10000;
constexpr int32_t kMinTimeout = 30, kMaxTimeout = 86400;

// A version or revision: one topic level of printable text.
bool version_text(std::string_view s)
{
	return !s.empty() && s.size() <= kMaxVersionLen && printable(s, kMaxVersionLen) == s &&
	       s.find_first_of("/+# ") == std::string_view::npos;
}

// Empty when the number is absent or within its range; fills value.
std::string read_number(const wlc::Fields<R_MAX> &f, size_t i, int32_t lo, int32_t hi, int64_t &value)
{
	if (!f.has(i))
		return "";
	int32_t v = static_cast<int32_t>(*f.u32(i));
	if (v < lo || v > hi)
		return "'" + std::string(kStartPolicy[i].name) + "' must be " + std::to_string(lo) + " to " + std::to_string(hi);
	value = v;
	return "";
}

std::string read_rollout(const wlc::Fields<R_MAX> &f, Rollout &r)
{
	if (!f.has(R_VERSION) || !f.has(R_REVISION))
		return "give 'version' and 'revision'";
	r.target = {std::string(*f.str(R_VERSION)), std::string(*f.str(R_REVISION))};
	if (!version_text(r.target.version) || !version_text(r.target.revision))
		return "'version' and 'revision' must be 1 to 63 printable characters without '/', '+', '#' or spaces";
	if (f.has(R_SITE) && !is_site_name(*f.str(R_SITE)))
		return "'site' is not a site name";
	if (f.has(R_SITE))
		r.site = std::string(*f.str(R_SITE));
	std::string e = read_number(f, R_PARALLEL, 1, kMaxParallel, r.limits.max_parallel);
	if (e.empty())
		e = read_number(f, R_FAILURES, 1, kMaxParallel, r.limits.max_failures);
	if (e.empty())
		e = read_number(f, R_TIMEOUT, kMinTimeout, kMaxTimeout, r.limits.timeout);
	return e;
}

void add_rollout(wlc::BlobBuf &b, const Rollout &r, const std::vector<FwTrack> &tracks)
{
	b.add_u64("id", static_cast<uint64_t>(r.id)).add("state", r.state).add("site", r.site);
	b.add("version", r.target.version).add("revision", r.target.revision);
	b.add_u32("max_parallel", static_cast<uint32_t>(r.limits.max_parallel));
	b.add_u32("max_failures", static_cast<uint32_t>(r.limits.max_failures));
	b.add_u32("timeout", static_cast<uint32_t>(r.limits.timeout));
	b.add_u64("started", static_cast<uint64_t>(r.started)).add_u64("ended", static_cast<uint64_t>(r.ended));
	b.add("author", r.author).add("note", r.note);
	std::array<uint32_t, 5> counts = {};
	for (const FwTrack &t : tracks)
		counts[static_cast<size_t>(t.state)]++;
	{
		auto c = b.table("counts");
		for (size_t i = 0; i < counts.size(); i++)
			b.add_u32(std::string(fw_state_name(static_cast<FwState>(i))).c_str(), counts[i]);
	}
	auto list = b.array("aps");
	for (const FwTrack &t : tracks) {
		auto one = b.table();
		b.add("id", t.ap).add("model", t.model).add("state", fw_state_name(t.state));
		b.add_u64("since", static_cast<uint64_t>(t.since)).add("detail", t.detail);
	}
}

std::vector<blobmsg_policy> as_vector(const auto &policy)
{
	return {policy.begin(), policy.end()};
}

} // namespace

FirmwareMethods::FirmwareMethods(Inventory &inventory, RolloutStore &store, std::string images,
				 std::function<void()> changed)
	: inventory_(inventory), store_(store), images_(std::move(images)), changed_(std::move(changed))
{
}

std::vector<wlc::Method> FirmwareMethods::methods()
{
	return {
		{"firmware_image", as_vector(kImagePolicy), [this](wlc::Request &r, blob_attr *m) { return set_image(r, m); }},
		{"firmware_show", {}, [this](wlc::Request &r, blob_attr *m) { return show(r, m); }},
		{"rollout_start", as_vector(kStartPolicy), [this](wlc::Request &r, blob_attr *m) { return start(r, m); }},
		{"rollout_show", as_vector(kShowPolicy), [this](wlc::Request &r, blob_attr *m) { return show_rollout(r, m); }},
		{"rollout_stop", {}, [this](wlc::Request &r, blob_attr *m) { return stop(r, m); }},
	};
}

int FirmwareMethods::set_image(wlc::Request &req, blob_attr *msg)
{
	wlc::Fields<I_MAX> f;
	std::string error = read_fields(msg, kImagePolicy, f);
	std::string model = error.empty() && f.has(I_MODEL) ? std::string(*f.str(I_MODEL)) : "";
	if (error.empty() && !f.has(I_IMAGE))
		error = "'image' is missing";
	else if (error.empty() && f.has(I_MODEL) && !version_text(model))
		error = "'model' must be 1 to 63 printable characters without '/', '+', '#' or spaces";
	ImageCheck image;
	if (error.empty()) {
		image = check_image(images_, *f.str(I_IMAGE));
		error = image.error;
	}
	if (!error.empty())
		return fail(req, "firmware_image", UBUS_STATUS_INVALID_ARGUMENT, error);
	if (!store_.set_image(model, image.path, who(req)))
		return fail(req, "firmware_image", UBUS_STATUS_UNKNOWN_ERROR, "inventory not written");
	wlc::logf(LOG_NOTICE, "Firmware image of %s is %s", model.empty() ? "every model" : model.c_str(),
		  image.path.c_str());
	wlc::BlobBuf reply;
	reply.add("model", model).add("image", image.path);
	req.reply(reply);
	return UBUS_STATUS_OK;
}

int FirmwareMethods::show(wlc::Request &req, blob_attr *msg)
{
	wlc::Fields<0> f;
	std::string error = read_fields(msg, kNoPolicy, f);
	if (!error.empty())
		return fail(req, "firmware_show", UBUS_STATUS_INVALID_ARGUMENT, error);
	wlc::BlobBuf reply;
	if (std::optional<Release> r = store_.release())
		reply.add("version", r->version).add("revision", r->revision);
	{
		auto images = reply.table("images");
		for (const auto &[model, path] : store_.images())
			reply.add(model.empty() ? "*" : model.c_str(), path);
	}
	if (std::optional<Rollout> r = store_.last())
		reply.add_u64("rollout", static_cast<uint64_t>(r->id)).add("rollout_state", r->state);
	req.reply(reply);
	return UBUS_STATUS_OK;
}

// The rollout's APs: those of its site with another revision; empty, or the
// reason the rollout cannot start.
std::string FirmwareMethods::queue(const Rollout &r, std::vector<FwTrack> &tracks)
{
	ApFilter filter;
	if (!r.site.empty())
		filter.site = r.site;
	std::set<std::string> missing;
	for (const ApRecord &ap : inventory_.list(filter)) {
		bool managed = ap.state == ApState::adopted || ap.state == ApState::offline || ap.state == ApState::approved;
		if (!managed || same_revision(ap.fw_revision, r.target.revision))
			continue;
		if (!store_.image_for(ap.model))
			missing.insert(ap.model);
		tracks.push_back({ap.id, ap.model, FwState::queued, 0, 0, ""});
	}
	if (!missing.empty())
		return "no firmware image for model " + *missing.begin() + " (set one with firmware_image)";
	return "";
}

int FirmwareMethods::start(wlc::Request &req, blob_attr *msg)
{
	wlc::Fields<R_MAX> f;
	Rollout r;
	std::string error = read_fields(msg, kStartPolicy, f);
	if (error.empty())
		error = read_rollout(f, r);
	if (!error.empty())
		return fail(req, "rollout_start", UBUS_STATUS_INVALID_ARGUMENT, error);
	if (std::optional<Rollout> running = store_.running())
		return fail(req, "rollout_start", UBUS_STATUS_INVALID_ARGUMENT,
			    "rollout " + std::to_string(running->id) + " is running; stop it first");
	std::vector<FwTrack> tracks;
	error = queue(r, tracks);
	if (!error.empty())
		return fail(req, "rollout_start", UBUS_STATUS_INVALID_ARGUMENT, error);
	r.previous = store_.release().value_or(Release{});
	r.author = who(req);
	std::optional<int64_t> id = store_.start(r, tracks);
	if (!id)
		return fail(req, "rollout_start", UBUS_STATUS_UNKNOWN_ERROR, "inventory not written");
	wlc::logf(LOG_NOTICE, "Rollout %lld of %s revision %s to %zu APs (%s)", static_cast<long long>(*id),
		  r.target.version.c_str(), r.target.revision.c_str(), tracks.size(), r.author.c_str());
	changed_();
	wlc::BlobBuf reply;
	reply.add_u64("id", static_cast<uint64_t>(*id)).add_u32("aps", static_cast<uint32_t>(tracks.size()));
	req.reply(reply);
	return UBUS_STATUS_OK;
}

int FirmwareMethods::show_rollout(wlc::Request &req, blob_attr *msg)
{
	wlc::Fields<S_MAX> f;
	std::string error = read_fields(msg, kShowPolicy, f);
	if (!error.empty())
		return fail(req, "rollout_show", UBUS_STATUS_INVALID_ARGUMENT, error);
	std::optional<Rollout> r = f.has(S_ID) ? store_.find(static_cast<int32_t>(*f.u32(S_ID))) : store_.last();
	if (!r)
		return fail(req, "rollout_show", UBUS_STATUS_NOT_FOUND, "no such rollout");
	wlc::BlobBuf reply;
	add_rollout(reply, *r, store_.tracks(r->id));
	req.reply(reply);
	return UBUS_STATUS_OK;
}

int FirmwareMethods::stop(wlc::Request &req, blob_attr *msg)
{
	wlc::Fields<0> f;
	std::string error = read_fields(msg, kNoPolicy, f);
	if (!error.empty())
		return fail(req, "rollout_stop", UBUS_STATUS_INVALID_ARGUMENT, error);
	std::optional<Rollout> r = store_.running();
	if (!r)
		return fail(req, "rollout_stop", UBUS_STATUS_NOT_FOUND, "no rollout is running");
	if (!store_.end(r->id, "stopped", "stopped by " + who(req)))
		return fail(req, "rollout_stop", UBUS_STATUS_UNKNOWN_ERROR, "inventory not written");
	wlc::logf(LOG_NOTICE, "Rollout %lld stopped (%s)", static_cast<long long>(r->id), who(req).c_str());
	changed_();
	wlc::BlobBuf reply;
	reply.add_u64("id", static_cast<uint64_t>(r->id)).add("state", "stopped");
	req.reply(reply);
	return UBUS_STATUS_OK;
}

} // namespace fleet
