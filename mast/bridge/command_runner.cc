// The command queue.
#include "command_runner.h"

#include <wlc/log.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace mast {

namespace {

constexpr int kHandOverMs = 4000;
constexpr size_t kCommandLimit = 255;
constexpr int kCannotExecute = 255;

// In the child: the pipe becomes standard input and the program runs; a program
// that cannot run ends the child with 255, like any command that failed.
[[noreturn]] void exec_child(int input, char *const argv[]) noexcept
{
	// Only async-signal-safe calls between fork and exec.
	if (input == STDIN_FILENO)
		fcntl(input, F_SETFD, 0);
	else if (dup2(input, STDIN_FILENO) < 0)
		_exit(kCannotExecute);
	execvp(argv[0], argv);
	_exit(kCannotExecute);
}

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
	// Every single space ends a word, so two spaces in a row, or a space at
	// either end, give an empty argument.
	std::vector<std::string> args;
	size_t start = 0;
	for (size_t space; (space = command.find(' ', start)) != std::string::npos; start = space + 1)
		args.push_back(command.substr(start, space - start));
	args.push_back(command.substr(start));
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
	std::vector<char *> argv;
	for (auto &a : args)
		argv.push_back(a.data());
	argv.push_back(nullptr);
	int fds[2];
	if (pipe2(fds, O_CLOEXEC) < 0)
		return false;
	wlc::UniqueFd read_end(fds[0]);
	auto job = std::make_unique<Job>();
	job->command = entry.command;
	job->input = std::move(entry.input);
	job->pipe.reset(fds[1]);
	pid_t pid = fork();
	if (pid < 0)
		return false;
	if (pid == 0)
		exec_child(read_end.get(), argv.data());
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
