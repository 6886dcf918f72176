// blobmsg_encode: writes a JSON object as one blob attribute (the payload
// encoding of every MQTT message of the system) to standard output, for
// scripts that play APs with mosquitto_pub -s.
//   blobmsg_encode '<json object>'
#include <wlc/c/blobmsg_json.h>

#include <cstdio>

int main(int argc, char **argv)
{
	if (argc != 2) {
		std::fprintf(stderr, "Usage: %s '<json object>'\n", argv[0]);
		return 2;
	}
	blob_buf b = {};
	blob_buf_init(&b, 0);
	if (!blobmsg_add_json_from_string(&b, argv[1])) {
		std::fprintf(stderr, "not a JSON object\n");
		blob_buf_free(&b);
		return 1;
	}
	std::fwrite(b.head, 1, blob_raw_len(b.head), stdout);
	blob_buf_free(&b);
	return 0;
}
