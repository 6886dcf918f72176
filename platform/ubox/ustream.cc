// Buffered descriptor streams for the event loop.
#include <wlc/c/ubox.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

// Input stops being read while this much waits unconsumed.
constexpr size_t kMaxBuffered = 1u << 20;

struct Buffers {
	std::string in;
	size_t in_off = 0;
	std::string out;
};

Buffers &buffers(ustream *s)
{
	return *static_cast<Buffers *>(s->buffers);
}

ustream_fd *fd_stream(ustream *s)
{
	return reinterpret_cast<ustream_fd *>(s);
}

void update_watch(ustream_fd *sf)
{
	ustream *s = &sf->stream;
	if (s->eof && buffers(s).out.empty()) {
		uloop_fd_delete(&sf->fd);
		return;
	}
	unsigned int flags = 0;
	if (!s->read_blocked && !s->eof)
		flags |= ULOOP_READ;
	if (!buffers(s).out.empty() && !s->write_error)
		flags |= ULOOP_WRITE;
	if (flags)
		uloop_fd_add(&sf->fd, flags);
	else
		uloop_fd_delete(&sf->fd);
}

void flush_out(ustream_fd *sf)
{
	ustream *s = &sf->stream;
	Buffers &b = buffers(s);
	size_t sent = 0;
	while (sent < b.out.size()) {
		ssize_t n = write(sf->fd.fd, b.out.data() + sent, b.out.size() - sent);
		if (n < 0) {
			if (errno == EINTR)
				continue;
			if (errno != EAGAIN && errno != EWOULDBLOCK)
				s->write_error = true;
			break;
		}
		sent += static_cast<size_t>(n);
	}
	b.out.erase(0, sent);
	if (sent && s->notify_write)
		s->notify_write(s, static_cast<int>(sent));
}

void read_in(ustream_fd *sf)
{
	ustream *s = &sf->stream;
	Buffers &b = buffers(s);
	size_t added = 0;
	char chunk[4096];
	while (b.in.size() - b.in_off < kMaxBuffered) {
		ssize_t n = read(sf->fd.fd, chunk, sizeof(chunk));
		if (n == 0) {
			s->eof = true;
			break;
		}
		if (n < 0) {
			if (errno == EINTR)
				continue;
			if (errno != EAGAIN && errno != EWOULDBLOCK)
				s->eof = true;
			break;
		}
		b.in.append(chunk, static_cast<size_t>(n));
		added += static_cast<size_t>(n);
	}
	if (added && s->notify_read)
		s->notify_read(s, static_cast<int>(added));
}

void on_fd(uloop_fd *fd, unsigned int events)
{
	ustream_fd *sf = container_of(fd, ustream_fd, fd);
	ustream *s = &sf->stream;
	bool was_eof = s->eof;
	if (events & ULOOP_WRITE)
		flush_out(sf);
	if ((events & ULOOP_READ) && !s->read_blocked)
		read_in(sf);
	if (!s->buffers)
		return; // freed from a callback
	update_watch(sf);
	if ((s->eof && !was_eof) || s->write_error)
		if (s->notify_state)
			s->notify_state(s);
}

} // namespace

extern "C" {

void ustream_fd_init(ustream_fd *sf, int fd)
{
	ustream *s = &sf->stream;
	s->buffers = new Buffers;
	s->eof = s->write_error = s->read_blocked = false;
	sf->fd = uloop_fd{};
	sf->fd.fd = fd;
	sf->fd.cb = on_fd;
	update_watch(sf);
}

void ustream_free(ustream *s)
{
	if (!s->buffers)
		return;
	uloop_fd_delete(&fd_stream(s)->fd);
	delete &buffers(s);
	s->buffers = nullptr;
}

char *ustream_get_read_buf(ustream *s, int *buflen)
{
	Buffers &b = buffers(s);
	size_t len = b.in.size() - b.in_off;
	if (buflen)
		*buflen = static_cast<int>(len);
	return len ? b.in.data() + b.in_off : nullptr;
}

void ustream_consume(ustream *s, int len)
{
	Buffers &b = buffers(s);
	size_t n = len < 0 ? 0 : static_cast<size_t>(len);
	b.in_off += std::min(n, b.in.size() - b.in_off);
	if (b.in_off == b.in.size()) {
		b.in.clear();
		b.in_off = 0;
	} else if (b.in_off > kMaxBuffered) {
		b.in.erase(0, b.in_off);
		b.in_off = 0;
	}
	update_watch(fd_stream(s));
}

void ustream_set_read_blocked(ustream *s, bool set)
{
	s->read_blocked = set;
	update_watch(fd_stream(s));
}

int ustream_write(ustream *s, const char *buf, int len, bool)
{
	if (s->write_error || len < 0)
		return 0;
	buffers(s).out.append(buf, static_cast<size_t>(len));
	flush_out(fd_stream(s));
	update_watch(fd_stream(s));
	return len;
}

int ustream_vprintf(ustream *s, const char *format, va_list arg)
{
	va_list copy;
	va_copy(copy, arg);
	int len = std::vsnprintf(nullptr, 0, format, copy);
	va_end(copy);
	if (len < 0)
		return len;
	std::string text(static_cast<size_t>(len) + 1, '\0');
	std::vsnprintf(text.data(), text.size(), format, arg);
	return ustream_write(s, text.data(), len, false);
}

int ustream_printf(ustream *s, const char *format, ...)
{
	va_list ap;
	va_start(ap, format);
	int ret = ustream_vprintf(s, format, ap);
	va_end(ap);
	return ret;
}

int ustream_pending_data(ustream *s, bool write)
{
	Buffers &b = buffers(s);
	return static_cast<int>(write ? b.out.size() : b.in.size() - b.in_off);
}

} // extern "C"
