// A slow link to the X server below, as ssh -X across a country:
// tests/relay.cpp holds every chunk each way for the setup's delay. Programs
// get the relay's DISPLAY=localhost:N, over TCP; the tests' own connection
// and d->display stay the server's.
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
