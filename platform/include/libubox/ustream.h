/* Buffered stream over a descriptor driven by the event loop: incoming data
 * is collected and announced through notify_read; writes that the descriptor
 * does not take at once are kept and sent when it becomes writable. */
#ifndef LIBUBOX_USTREAM_H
#define LIBUBOX_USTREAM_H

#include <stdarg.h>
#include <stdbool.h>

#include "uloop.h"

struct ustream {
	void (*notify_read)(struct ustream *s, int bytes_new);
	void (*notify_write)(struct ustream *s, int bytes);
	void (*notify_state)(struct ustream *s);

	bool string_data;
	bool write_error;
	bool eof;
	bool read_blocked;

	void *buffers; /* buffered data, owned by the stream */
};

struct ustream_fd {
	struct ustream stream;
	struct uloop_fd fd;
};

void ustream_fd_init(struct ustream_fd *s, int fd);
void ustream_free(struct ustream *s);

/* The buffered input (contiguous) and its length. */
char *ustream_get_read_buf(struct ustream *s, int *buflen);
void ustream_consume(struct ustream *s, int len);
void ustream_set_read_blocked(struct ustream *s, bool set);

int ustream_write(struct ustream *s, const char *buf, int len, bool more);
int ustream_printf(struct ustream *s, const char *format, ...) __attribute__((format(printf, 2, 3)));
int ustream_vprintf(struct ustream *s, const char *format, va_list arg);
int ustream_pending_data(struct ustream *s, bool write);


#endif
