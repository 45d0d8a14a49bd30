// A slow link to the X server below, as ssh -X across a country: relay.cpp
// holds every chunk each way for the setup's delay. Programs reach the server
// through it, DISPLAY=localhost:N; the tests' connection and d->display do not.
#include "desktop.h"

static bool start(desktop *d)
{
	// Xvfb listens on its socket alone: /tmp/.X11-unix/X and its number.
	const std::string socket = "/tmp/.X11-unix/X" + d->display.substr(d->display.find(':') + 1);
	const std::string number = display_number(d, { RELAY_PROGRAM, socket, std::to_string(d->s->delay_ms) }, 3,
	                                            { "/", {} });
	std::replace(d->env.begin(), d->env.end(), "DISPLAY=" + d->display, "DISPLAY=localhost:" + number);
	return !number.empty();
}

const layer RELAY = { "relay", REMOTE, start };
