// Firmware in the inventory file.
#include "rollout_store.h"

#include "common/clock.h"


namespace fleet {

namespace {

#define FLEET_ROLLOUT_COLUMNS                                                                                 \
	"id, site, version, revision, prev_version, prev_revision, max_parallel, max_failures, timeout, state, " \
	"started, ended, author, note"

constexpr const char *kSetImage = "INSERT INTO fw_image(model, path, set_at, author) VALUES (?1, ?2, ?3, ?4) "
				  "ON CONFLICT(model) DO UPDATE SET path = ?2, set_at = ?3, author = ?4";
constexpr const char *kImages = "SELECT model, path FROM fw_image ORDER BY model";
constexpr const char *kRelease = "SELECT version, revision FROM fw_release WHERE id = 1";
constexpr const char *kSetRelease = "INSERT INTO fw_release(id, version, revision, set_at) VALUES (1, ?1, ?2, ?3) "
				    "ON CONFLICT(id) DO UPDATE SET version = ?1, revision = ?2, set_at = ?3";
constexpr const char *kInsert =
	"INSERT INTO fw_rollout(site, version, revision, prev_version, prev_revision, max_parallel, max_failures, "
	"timeout, state, started, author) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, 'running', ?9, ?10)";
constexpr const char *kInsertTrack = "INSERT INTO fw_rollout_ap(rollout, ap, model, state, since) "
				     "VALUES (?1, ?2, ?3, 'queued', ?4)";
constexpr const char *kRunning = "SELECT " FLEET_ROLLOUT_COLUMNS " FROM fw_rollout WHERE state = 'running' "
				 "ORDER BY id DESC LIMIT 1";
constexpr const char *kFind = "SELECT " FLEET_ROLLOUT_COLUMNS " FROM fw_rollout WHERE id = ?1";
constexpr const char *kLast = "SELECT " FLEET_ROLLOUT_COLUMNS " FROM fw_rollout ORDER BY id DESC LIMIT 1";
constexpr const char *kTracks = "SELECT ap, model, state, since, last_offer, detail FROM fw_rollout_ap "
				"WHERE rollout = ?1 ORDER BY ap";
constexpr const char *kSaveTrack = "UPDATE fw_rollout_ap SET state = ?3, since = ?4, last_offer = ?5, detail = ?6 "
				   "WHERE rollout = ?1 AND ap = ?2";
constexpr const char *kNote = "UPDATE fw_rollout SET note = ?2 WHERE id = ?1";
constexpr const char *kEnd = "UPDATE fw_rollout SET state = ?2, note = ?3, ended = ?4 WHERE id = ?1";
constexpr const char *kEvent = "INSERT INTO event(ap, at, kind, detail) VALUES (?1, ?2, 'firmware', ?3)";

Rollout read_rollout(const Statement &s)
{
	Rollout r;
	r.id = s.integer(0);
	r.site = s.text(1);
	r.target = {s.text(2), s.text(3)};
	r.previous = {s.text(4), s.text(5)};
	r.limits.max_parallel = s.integer(6);
	r.limits.max_failures = s.integer(7);
	r.limits.timeout = s.integer(8);
	r.state = s.text(9);
	r.started = s.integer(10);
	r.ended = s.integer(11);
	r.author = s.text(12);
	r.note = s.text(13);
	return r;
}

} // namespace

RolloutStore::RolloutStore(sqlite3 *db, Clock clock)
	: db_(db), clock_(clock ? std::move(clock) : Clock(system_seconds)), set_image_(db, kSetImage),
	  images_(db, kImages), release_(db, kRelease), set_release_(db, kSetRelease), insert_(db, kInsert),
	  insert_track_(db, kInsertTrack), running_(db, kRunning), find_(db, kFind), last_(db, kLast),
	  tracks_(db, kTracks), save_track_(db, kSaveTrack), note_(db, kNote), end_(db, kEnd), event_(db, kEvent)
{
}

int64_t RolloutStore::now() const
{
	return clock_();
}

bool RolloutStore::set_image(const std::string &model, const std::string &path, const std::string &author)
{
	set_image_.bind(1, std::string_view(model)).bind(2, std::string_view(path)).bind(3, now());
	set_image_.bind(4, std::string_view(author));
	return set_image_.run_once();
}

std::map<std::string, std::string> RolloutStore::images()
{
	std::map<std::string, std::string> out;
	while (images_.step() == SQLITE_ROW)
		out[images_.text(0)] = images_.text(1);
	images_.reset();
	return out;
}

std::optional<std::string> RolloutStore::image_for(const std::string &model)
{
	std::map<std::string, std::string> all = images();
	auto it = all.find(model);
	if (it == all.end())
		it = all.find("");
	if (it == all.end())
		return std::nullopt;
	return it->second;
}

std::optional<Release> RolloutStore::release()
{
	std::optional<Release> r;
	if (release_.step() == SQLITE_ROW)
		r = Release{release_.text(0), release_.text(1)};
	release_.reset();
	return r;
}

bool RolloutStore::set_release(const Release &r)
{
	set_release_.bind(1, std::string_view(r.version)).bind(2, std::string_view(r.revision)).bind(3, now());
	return set_release_.run_once();
}

std::optional<int64_t> RolloutStore::start(const Rollout &r, const std::vector<FwTrack> &tracks)
{
	Transaction tx(db_);
	if (!tx.begun())
		return std::nullopt;
	insert_.bind(1, std::string_view(r.site)).bind(2, std::string_view(r.target.version));
	insert_.bind(3, std::string_view(r.target.revision)).bind(4, std::string_view(r.previous.version));
	insert_.bind(5, std::string_view(r.previous.revision)).bind(6, r.limits.max_parallel);
	insert_.bind(7, r.limits.max_failures).bind(8, r.limits.timeout).bind(9, now());
	insert_.bind(10, std::string_view(r.author));
	if (!insert_.run_once())
		return std::nullopt;
	int64_t id = sqlite3_last_insert_rowid(db_);
	std::string detail = "rollout " + std::to_string(id) + " to " + r.target.revision + ": queued";
	for (const FwTrack &t : tracks) {
		insert_track_.bind(1, id).bind(2, std::string_view(t.ap)).bind(3, std::string_view(t.model)).bind(4, now());
		event_.bind(1, std::string_view(t.ap)).bind(2, now()).bind(3, std::string_view(detail));
		if (!insert_track_.run_once() || !event_.run_once())
			return std::nullopt;
	}
	if (!set_release(r.target) || !tx.commit())
		return std::nullopt;
	return id;
}

std::optional<Rollout> RolloutStore::one(Statement &s)
{
	std::optional<Rollout> r;
	if (s.step() == SQLITE_ROW)
		r = read_rollout(s);
	s.reset();
	return r;
}

std::optional<Rollout> RolloutStore::running()
{
	return one(running_);
}

std::optional<Rollout> RolloutStore::find(int64_t id)
{
	find_.bind(1, id);
	return one(find_);
}

std::optional<Rollout> RolloutStore::last()
{
	return one(last_);
}

std::vector<FwTrack> RolloutStore::tracks(int64_t id)
{
	tracks_.bind(1, id);
	std::vector<FwTrack> out;
	while (tracks_.step() == SQLITE_ROW) {
		FwTrack t{tracks_.text(0), tracks_.text(1), parse_fw_state(tracks_.text(2)).value_or(FwState::failed),
			  tracks_.integer(3), tracks_.integer(4), tracks_.text(5)};
		out.push_back(std::move(t));
	}
	tracks_.reset();
	return out;
}

bool RolloutStore::save(int64_t id, const std::vector<FwTrack> &tracks, const std::vector<bool> &moved,
			const std::string &note)
{
	Transaction tx(db_);
	if (!tx.begun())
		return false;
	for (size_t i = 0; i < tracks.size(); i++) {
		const FwTrack &t = tracks[i];
		save_track_.bind(1, id).bind(2, std::string_view(t.ap)).bind(3, fw_state_name(t.state)).bind(4, t.since);
		save_track_.bind(5, t.last_offer).bind(6, std::string_view(t.detail));
		if (!save_track_.run_once())
			return false;
		if (i >= moved.size() || !moved[i])
			continue;
		std::string detail = "rollout " + std::to_string(id) + ": " + std::string(fw_state_name(t.state)) +
				     (t.detail.empty() ? "" : " (" + t.detail + ")");
		event_.bind(1, std::string_view(t.ap)).bind(2, now()).bind(3, std::string_view(detail));
		if (!event_.run_once())
			return false;
	}
	note_.bind(1, id).bind(2, std::string_view(note));
	return note_.run_once() && tx.commit();
}

bool RolloutStore::end(int64_t id, const std::string &state, const std::string &note)
{
	std::optional<Rollout> r = find(id);
	if (!r)
		return false;
	Transaction tx(db_);
	if (!tx.begun())
		return false;
	end_.bind(1, id).bind(2, std::string_view(state)).bind(3, std::string_view(note)).bind(4, now());
	if (!end_.run_once())
		return false;
	if (state != "finished" && !r->previous.revision.empty() && !set_release(r->previous))
		return false;
	return tx.commit();
}

} // namespace fleet
