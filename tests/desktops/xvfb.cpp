// Xvfb: the bare X server of most tests, its one screen of the size the
// test asks for, no window manager. Clients need its cookie, as on a
// desktop: the tests' own connection and the programs run on it.
#include <cstdlib>
#include <fstream>

#include "desktop.h"

// An X authority file with one cookie for any display (family FamilyWild),
// each field a big-endian length and its bytes.
static bool write_cookie(const fs::path &file)
{
	std::ifstream random("/dev/urandom", std::ios::binary);
	std::string cookie(16, '\0');
	random.read(cookie.data(), 16);
	std::string entry = "\xff\xff";
	for (const std::string &field : { std::string(), std::string(), std::string("MIT-MAGIC-COOKIE-1"), cookie })
		entry += std::string{ char(field.size() >> 8), char(field.size() & 0xff) } + field;
	std::ofstream out(file, std::ios::binary);
	return random && (out << entry);
}

static bool start(desktop *d)
{
	const std::string size = std::to_string(d->width) + "x" + std::to_string(d->height) + "x24";
	const std::string cookie = (d->files / "xauthority").string();
	if (!write_cookie(cookie))
		return false;
	d->env.push_back("XAUTHORITY=" + cookie);
	setenv("XAUTHORITY", cookie.c_str(), 1);
	const bool up = x_server(d, { "Xvfb", "-screen", "0", size, "-nolisten", "tcp", "-auth", cookie });
	unsetenv("XAUTHORITY");
	return up;
}

// An untrusted cookie for the programs run there, as ssh -X gives where
// ForwardX11Trusted is no (upstream OpenSSH's default): the server's
// SECURITY extension refuses such a client keyboard control, grabs and
// events to other clients.
static bool untrusted(desktop *d)
{
	const std::string cookie = (d->files / "untrusted").string();
	if (tool({ "xauth", "-f", cookie, "generate", d->display, ".", "untrusted", "timeout", "3600" }, d->env) != 0)
		return false;
	fs::permissions(cookie, fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
	d->env.push_back("XAUTHORITY=" + cookie);
	return true;
}

const layer XVFB = { "Xvfb", SIZED, start };
const layer UNTRUSTED = { "Xvfb", UNTRUSTED_CLIENT, untrusted };
