// Tricolour status LEDs through the LED class files.
#include <zev/devinfo.h>
#include <zev/util.h>

#include <fsroot/fsroot.h>

#include <array>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

constexpr std::array<const char *, 3> kColours = {"red", "green", "blue"};

// Attribute files are written, never created: a missing LED is a failure.
FILE *open_attr(const std::string &path)
{
	int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
	if (fd < 0)
		return nullptr;
	FILE *f = fdopen(fd, "w");
	if (!f)
		close(fd);
	return f;
}

std::string attr_path(const char *name, const char *colour, const char *attr)
{
	char path[128];
	std::snprintf(path, sizeof(path), "/sys/class/leds/%s:%s:%s/%s", zev_devinfo_model(), colour, name, attr);
	return wlc::root_path(path);
}

// Opens the attribute of all three colours; all or none.
bool open_all(const char *name, const char *attr, std::array<FILE *, 3> &files)
{
	for (size_t i = 0; i < kColours.size(); i++) {
		files[i] = open_attr(attr_path(name, kColours[i], attr));
		if (!files[i]) {
			for (size_t j = 0; j < i; j++)
				std::fclose(files[j]);
			return false;
		}
	}
	return true;
}

bool write_all(const char *name, const char *attr, const std::array<std::string, 3> &values)
{
	std::array<FILE *, 3> files;
	if (!open_all(name, attr, files))
		return false;
	bool ok = true;
	for (size_t i = 0; i < files.size(); i++) {
		ok = std::fputs(values[i].c_str(), files[i]) >= 0 && ok;
		ok = std::fclose(files[i]) == 0 && ok;
	}
	return ok;
}

std::array<std::string, 3> same(const std::string &v)
{
	return {v, v, v};
}

std::array<std::string, 3> rgb(uint8_t r, uint8_t g, uint8_t b)
{
	return {std::to_string(r), std::to_string(g), std::to_string(b)};
}

// Writes to each colour that has the attribute, skipping the others.
void write_each(const char *name, const char *attr, unsigned int value)
{
	for (const char *colour : kColours) {
		FILE *f = open_attr(attr_path(name, colour, attr));
		if (!f)
			continue;
		std::fprintf(f, "%u", value);
		std::fclose(f);
	}
}

} // namespace

extern "C" {

int zev_led_set_const(const char *name, uint8_t red, uint8_t green, uint8_t blue)
{
	if (!write_all(name, "trigger", same("none")))
		return -1;
	return write_all(name, "brightness", rgb(red, green, blue)) ? 0 : -1;
}

int zev_led_set_blink(const char *name, uint8_t red, uint8_t green, uint8_t blue, unsigned int on_ms,
		      unsigned int off_ms)
{
	if (!write_all(name, "brightness", rgb(red, green, blue)) || !write_all(name, "trigger", same("timer")))
		return -1;
	write_each(name, "delay_on", on_ms);
	write_each(name, "delay_off", off_ms);
	return write_all(name, "brightness", rgb(red, green, blue)) ? 0 : -1;
}

} // extern "C"
