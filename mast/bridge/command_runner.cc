// The command queue.
#include "command_runner.h"

#include <wlc/log.h>

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

extern char **environ;

namespace mast {

namespace {

constexpr int kHandOverMs = 4000;
constexpr size_t kCommandLimit = 255;

} // namespace

// A started command: its process watch and the writer of its input.
struct CommandRunner::Job {
	std::string command;
	std::string input;
	size_t written = 0;
	wlc::UniqueFd pipe;
	std::unique_ptr<wlc::FdWatch> writer;
	std::unique_ptr<wlc::ProcessWatch> process;
	bool ended = false;

	// Writes what the pipe takes now; the rest when it becomes writable.
	void feed()
	{
		while (written < input.size()) {
			ssize_t n = write(pipe.get(), input.data() + written, input.size() - written);
			if (n < 0 && errno == EINTR)
				continue;
			if (n < 0 && errno == EAGAIN)
				return;
			if (n < 0)
				break; // the command stopped reading
			written += static_cast<size_t>(n);
		}
		finish_input();
	}

	void finish_input()
	{
		if (writer)
			writer->stop();
		pipe.reset();
	}
};

std::vector<std::string> split_command(const std::string &command)
{
	std::vector<std::string> args;
	size_t start = 0;
	while (start <= command.size()) {
		size_t space = command.find(' ', start);
		std::string word = command.substr(start, space == std::string::npos ? std::string::npos : space - start);
		if (!word.empty())
			args.push_back(word);
		if (space == std::string::npos)
			break;
		start = space + 1;
	}
	return args;
}

CommandRunner &CommandRunner::instance()
{
	static CommandRunner runner;
	return runner;
}

CommandRunner::CommandRunner()
	: timeout_([this] { head_done(true); }), reaper_([this] {
		  late_.remove_if([](const std::unique_ptr<Job> &j) { return j->ended; });
	  })
{
}

void CommandRunner::run(const std::string &command, std::string input)
{
	queue_.push_back(Entry{command.substr(0, kCommandLimit), std::move(input)});
	if (queue_.size() == 1 && !head_)
		start_next();
}

void CommandRunner::start_next()
{
	// A head that cannot start is dropped (and logged), so the queue never stalls.
	while (!queue_.empty() && !head_) {
		if (start(queue_.front()))
			return;
		wlc::logf(LOG_ERR, "Failed to start command %s", queue_.front().command.c_str());
		queue_.pop_front();
	}
}

bool CommandRunner::start(Entry &entry)
{
	std::vector<std::string> args = split_command(entry.command);
	if (args.empty())
		return false;
	int fds[2];
	if (pipe2(fds, O_CLOEXEC) < 0)
		return false;
	wlc::UniqueFd read_end(fds[0]);
	auto job = std::make_unique<Job>();
	job->command = entry.command;
	job->input = std::move(entry.input);
	job->pipe.reset(fds[1]);
	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	posix_spawn_file_actions_adddup2(&actions, read_end.get(), STDIN_FILENO);
	std::vector<char *> argv;
	for (auto &a : args)
		argv.push_back(a.data());
	argv.push_back(nullptr);
	pid_t pid;
	int err = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
	posix_spawn_file_actions_destroy(&actions);
	if (err != 0)
		return false;
	read_end.reset();
	Job *raw = job.get();
	job->process = std::make_unique<wlc::ProcessWatch>([this, raw](int) {
		raw->ended = true;
		if (head_.get() == raw)
			head_done(false);
		else
			late_done();
	});
	job->process->watch(pid);
	fcntl(job->pipe.get(), F_SETFL, O_NONBLOCK);
	job->writer = std::make_unique<wlc::FdWatch>(job->pipe.get(), [raw](unsigned) { raw->feed(); });
	job->feed();
	if (job->pipe)
		job->writer->start(ULOOP_WRITE);
	head_ = std::move(job);
	queue_.pop_front();
	timeout_.set(kHandOverMs);
	return true;
}

void CommandRunner::head_done(bool)
{
	// A command past its time is left running and reaped when it ends; one
	// that ended is freed from the loop.
	timeout_.cancel();
	late_.push_back(std::move(head_));
	reaper_.set(0);
	start_next();
}

void CommandRunner::late_done()
{
	// Finished jobs are freed from the loop, outside their own callbacks.
	reaper_.set(0);
}

} // namespace mast
