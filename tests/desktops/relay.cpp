// A slow link between the programs and the X server below, as ssh -X across
// a country is: tests/relay.cpp, holding every chunk each way for the
// setup's delay. Programs started here get DISPLAY=localhost:N of the relay,
// and reach the server over TCP; the tests' own connection, and d->display,
// stay the server's own.
#include <fcntl.h>
#include <unistd.h>

#include "desktop.h"

static bool start(desktop *d)
{
	// Xvfb listens on its socket alone: /tmp/.X11-unix/X and its number.
	const std::string socket = "/tmp/.X11-unix/X" + d->display.substr(d->display.find(':') + 1);
	int fds[2];
	if (pipe2(fds, O_CLOEXEC) != 0)
		return false;
	d->groups.push_back(spawn({ RELAY_PROGRAM, socket, std::to_string(d->s->delay_ms), std::to_string(fds[1]) },
	                          { "/", {}, false, 0, -1, fds[1], true }));
	close(fds[1]);
	const std::string number = display_number(fds[0]);
	if (number.empty())
		return false;
	for (std::string &e : d->env)
		if (e.rfind("DISPLAY=", 0) == 0)
			e = "DISPLAY=localhost:" + number;
	return true;
}

const layer RELAY = { "relay", REMOTE, start };
