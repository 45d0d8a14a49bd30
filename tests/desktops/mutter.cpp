// GNOME's mutter, headless, in a D-Bus session of its own, a 1280x800 virtual
// monitor: keys typed through its RemoteDesktop API, as a remote user's; its
// screen capture needs PipeWire: pictures come from XWayland.
#include <systemd/sd-bus.h>

#include "desktop.h"

static const char SERVICE[] = "org.gnome.Mutter.RemoteDesktop", SESSION[] = "org.gnome.Mutter.RemoteDesktop.Session";

static bool key(desktop *d, KeySym sym, bool down)
{
	return sd_bus_call_method(d->session_bus, SERVICE, d->session.c_str(), SESSION, "NotifyKeyboardKeysym", nullptr,
	                          nullptr, "ub", (uint32_t)sym, (int)down) >= 0;
}

// The RemoteDesktop session lasts as long as its connection, the compositor's
// user's (the session bus takes no one else, known by socket credentials).
// A new virtual keyboard loses its first event: Shift goes first.
static bool keyboard(desktop *d)
{
	sd_bus_message *reply = nullptr;
	const char *path = nullptr;
	if (sd_bus_new(&d->session_bus) < 0 || sd_bus_set_address(d->session_bus, d->bus.c_str()) < 0 ||
	    sd_bus_set_bus_client(d->session_bus, 1) < 0 || !as_user(d, [&] { return sd_bus_start(d->session_bus) >= 0; }))
		return false;
	wait_for(START_SECONDS, [&] {
		return sd_bus_call_method(d->session_bus, SERVICE, "/org/gnome/Mutter/RemoteDesktop", SERVICE,
		                          "CreateSession", nullptr, &reply, "") >= 0;
	});
	if (!reply || sd_bus_message_read(reply, "o", &path) < 0)
		return false;
	d->session = path;
	sd_bus_message_unref(reply);
	const bool started =
		sd_bus_call_method(d->session_bus, SERVICE, d->session.c_str(), SESSION, "Start", nullptr, nullptr, "") >= 0;
	return started && key(d, XK_Shift_L, true) && key(d, XK_Shift_L, false);
}

static bool start(desktop *d)
{
	const fs::path bus = d->files / "bus";
	const std::string script = "echo \"$DBUS_SESSION_BUS_ADDRESS\" >" + bus.string() +
	                           "; exec mutter --headless --wayland --virtual-monitor 1280x800";
	return compositor(d, { "dbus-run-session", "--", "sh", "-c", script }, {}, [&](const std::string &log) {
		const size_t x = log.find("Using public X11 display "), w = log.find("Using Wayland display name '");
		if (x == std::string::npos || w == std::string::npos)
			return false;
		d->display = log.substr(x + 25, log.find_first_of(",\n", x) - x - 25);
		d->wayland = log.substr(w + 28, log.find('\'', w + 28) - w - 28);
		d->bus = trimmed(slurp(bus));
		for (auto &e : fs::directory_iterator(d->files))
			if (e.path().filename().string().rfind(".mutter-Xwaylandauth.", 0) == 0)
				d->xauthority = e.path();
		return !d->bus.empty() && !d->xauthority.empty();
	}) && keyboard(d);
}

static bool press(desktop *d, Window, KeySym sym, const std::vector<KeySym> &held)
{
	bool sent = true;
	for (KeySym k : held)
		sent = key(d, k, true) && sent;
	sent = key(d, sym, true) && key(d, sym, false) && sent;
	for (KeySym k : held)
		sent = key(d, k, false) && sent;
	return sent;
}

static void stop(desktop *d)
{
	d->session_bus = sd_bus_flush_close_unref(d->session_bus);
}

const layer MUTTER = { "mutter", MANAGED | COMPOSITOR, start, stop, press };
