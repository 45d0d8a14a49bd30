// GNOME's mutter, headless, in a D-Bus session of its own, a 1280x800
// virtual monitor: keys through its RemoteDesktop D-Bus API, as a remote
// desktop's user types them. Its screen capture needs PipeWire: pictures come
// from XWayland.
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include "desktop.h"

// The RemoteDesktop session, kept by a process of the compositor's user (the
// session bus takes no one else, and a session ends with the connection
// that made it): it sends each key event read from `in`. A new virtual
// keyboard loses its first event: Shift goes first.
struct key_event {
	uint32_t sym;
	int32_t down;
};

static void keyboard(const std::string &address, int in)
{
	const char *service = "org.gnome.Mutter.RemoteDesktop";
	sd_bus *bus = nullptr;
	sd_bus_message *reply = nullptr;
	const char *session = nullptr;
	if (sd_bus_new(&bus) < 0 || sd_bus_set_address(bus, address.c_str()) < 0 || sd_bus_set_bus_client(bus, 1) < 0 ||
	    sd_bus_start(bus) < 0)
		_exit(1);
	wait_for(START_SECONDS, [&] {
		return sd_bus_call_method(bus, service, "/org/gnome/Mutter/RemoteDesktop", service, "CreateSession", nullptr,
		                          &reply, "") >= 0;
	});
	if (!reply || sd_bus_message_read(reply, "o", &session) < 0)
		_exit(1);
	const std::string path = session, iface = std::string(service) + ".Session";
	if (sd_bus_call_method(bus, service, path.c_str(), iface.c_str(), "Start", nullptr, nullptr, "") < 0)
		_exit(1);
	std::vector<key_event> first{ { XK_Shift_L, 1 }, { XK_Shift_L, 0 } };
	for (key_event e : first)
		sd_bus_call_method(bus, service, path.c_str(), iface.c_str(), "NotifyKeyboardKeysym", nullptr, nullptr, "ub",
		                   e.sym, e.down);
	for (key_event e; read(in, &e, sizeof e) == sizeof e;)
		if (sd_bus_call_method(bus, service, path.c_str(), iface.c_str(), "NotifyKeyboardKeysym", nullptr, nullptr,
		                       "ub", e.sym, e.down) < 0)
			_exit(1);
	_exit(0);
}

static bool start(desktop *d)
{
	const fs::path bus = d->files / "bus";
	const std::string script = "echo \"$DBUS_SESSION_BUS_ADDRESS\" >" + bus.string() +
	                           "; exec mutter --headless --wayland --virtual-monitor 1280x800";
	if (!compositor(d, { "dbus-run-session", "--", "sh", "-c", script }, {}, [&](const std::string &log) {
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
	}))
		return false;
	int fds[2];
	if (pipe2(fds, O_CLOEXEC) != 0)
		return false;
	d->keyboard = fork();
	if (d->keyboard == 0) {
		close(fds[1]);
		if (d->user && (setgid(d->user) != 0 || setuid(d->user) != 0))
			_exit(127);
		keyboard(d->bus, fds[0]);
	}
	close(fds[0]);
	d->keys = fds[1];
	return true;
}


static bool press(desktop *d, Window, KeySym sym, const std::vector<KeySym> &held)
{
	std::vector<key_event> events;
	for (KeySym k : held)
		events.push_back({ (uint32_t)k, 1 });
	events.push_back({ (uint32_t)sym, 1 });
	events.push_back({ (uint32_t)sym, 0 });
	for (KeySym k : held)
		events.push_back({ (uint32_t)k, 0 });
	const ssize_t n = (ssize_t)(events.size() * sizeof events[0]);
	return d->keys >= 0 && write(d->keys, events.data(), n) == n;
}

static void stop(desktop *d)
{
	if (d->keys >= 0)
		close(d->keys);
	if (d->keyboard > 0 && !wait_for(START_SECONDS, [&] { return waitpid(d->keyboard, nullptr, WNOHANG) != 0; })) {
		kill(d->keyboard, SIGKILL);
		waitpid(d->keyboard, nullptr, 0);
	}
	d->keys = d->keyboard = -1;
}

const layer MUTTER = { "mutter", MANAGED | COMPOSITOR, start, stop, press, nullptr, nullptr };
