// Runs external commands one at a time, each with data on its standard
// input, without a shell. A command still running after 4 s no longer holds
// up the queue; it is left running and reaped when it ends.
#pragma once

#include <wlc/loop.h>

#include <deque>
#include <list>
#include <memory>
#include <string>
#include <vector>

namespace mast {

class CommandRunner {
public:
	static CommandRunner &instance();

	// Queues the command (cut to 255 characters; split at every space into
	// arguments, the program looked up on PATH) with its input. A program that
	// cannot be executed ends like a command that failed; only a pipe or
	// process that cannot be made is logged.
	void run(const std::string &command, std::string input);

	size_t queued() const { return queue_.size(); }
	size_t running_late() const { return late_.size(); }

private:
	struct Entry {
		std::string command;
		std::string input;
	};
	struct Job;

	CommandRunner();
	void start_next();
	bool start(Entry &entry);
	void head_done(bool timed_out);
	void late_done();

	std::deque<Entry> queue_;
	std::unique_ptr<Job> head_;
	std::list<std::unique_ptr<Job>> late_; // past their time, still being reaped
	wlc::Timer timeout_;
	wlc::Timer reaper_;
};

// The argument vector of a command text: split at every single space (empty
// words included), no quoting.
std::vector<std::string> split_command(const std::string &command);

} // namespace mast
