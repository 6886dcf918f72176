// Firmware in the inventory file: the image of each model, the release the
// controller offers (its retained VERSION), and each staged rollout with
// the way of every AP through it, each step also in the AP's history.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "firmware/rollout_logic.h"
#include "inventory/sqlite.h"

namespace fleet {

struct Release {
	std::string version, revision;
};

struct Rollout {
	int64_t id = 0;
	std::string site; // empty: every site
	Release target, previous;
	RolloutLimits limits;
	std::string state = "running"; // running, finished, halted, stopped
	int64_t started = 0, ended = 0;
	std::string author, note;
};

class RolloutStore {
public:
	using Clock = std::function<int64_t()>;
	explicit RolloutStore(sqlite3 *db, Clock clock = {});

	[[nodiscard]] bool set_image(const std::string &model, const std::string &path, const std::string &author);
	// Model to image path; "" is the image of every model without its own.
	[[nodiscard]] std::map<std::string, std::string> images();
	[[nodiscard]] std::optional<std::string> image_for(const std::string &model);

	[[nodiscard]] std::optional<Release> release();
	// Starts the rollout with its APs (all queued) and makes its target the
	// release; its id, null when nothing could be written.
	[[nodiscard]] std::optional<int64_t> start(const Rollout &r, const std::vector<FwTrack> &tracks);
	[[nodiscard]] std::optional<Rollout> running();
	[[nodiscard]] std::optional<Rollout> find(int64_t id);
	[[nodiscard]] std::optional<Rollout> last();
	[[nodiscard]] std::vector<FwTrack> tracks(int64_t id);
	// Writes the tracks given (an event in the AP's history for each one
	// whose state changed) and the rollout's note.
	[[nodiscard]] bool save(int64_t id, const std::vector<FwTrack> &tracks, const std::vector<bool> &moved,
				const std::string &note);
	// Ends the rollout; halted and stopped ones give the release back to
	// what it was before.
	[[nodiscard]] bool end(int64_t id, const std::string &state, const std::string &note);

private:
	std::optional<Rollout> one(Statement &s);
	bool set_release(const Release &r);
	int64_t now() const;

	sqlite3 *db_;
	Clock clock_;
	Statement set_image_, images_, release_, set_release_, insert_, insert_track_, running_, find_, last_, tracks_,
		save_track_, note_, end_, event_;
};

} // namespace fleet
