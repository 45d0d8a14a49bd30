// Xvfb, the bare X server of most tests: one screen of the size asked for,
// and clients need its cookie, as on a desktop (the tests' connection too).
#include "desktop.h"

static bool start(desktop *d)
{
	// An X authority file with one cookie for any display (family
	// FamilyWild), each field a big-endian length and its bytes.
	const std::string cookie = (d->files / "xauthority").string();
	std::ifstream random("/dev/urandom", std::ios::binary);
	std::string key(16, '\0'), entry = "\xff\xff";
	random.read(key.data(), 16);
	for (const std::string &field : { std::string(), std::string(), std::string("MIT-MAGIC-COOKIE-1"), key })
		entry += std::string{ char(field.size() >> 8), char(field.size() & 0xff) } + field;
	if (!random || !(std::ofstream(cookie, std::ios::binary) << entry))
		return false;
	d->env.push_back("XAUTHORITY=" + cookie);
	setenv("XAUTHORITY", cookie.c_str(), 1);
	const bool up = x_server(d, { "Xvfb", "-screen", "0", d->size() + "x24", "-nolisten", "tcp", "-auth", cookie });
	unsetenv("XAUTHORITY");
	return up;
}

// The programs' cookie untrusted, as ssh -X gives with ForwardX11Trusted no
// (OpenSSH's default): the SECURITY extension refuses such a client keyboard
// control, grabs and events to other clients.
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
