/* dotfall: draws the triangle fractal by the chaos game until a key is
 * pressed, on Allegro 4. This is the whole run, start to end, in one pass;
 * what differs between platforms is behind shell/platform.h. */
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <allegro.h>

#include "drawing/chaos.h"
#include "settings/settings.h"
#include "shell/platform.h"

/* Allegro's X11 driver does not check sizes: zero aborts the process, negative
 * sizes "succeed" with nothing visible, and huge ones overflow its buffer
 * arithmetic. Sizes outside 1..MAX_SIDE are refused here instead, as a
 * display the driver cannot set. */
#define MAX_SIDE 16384

#define FAILURE "Error setting graphics mode!"

/* The steps are drawn in batches, with a look for a key between them. A
 * batch ends after BATCH_MS, read on the clock every CLOCK_STEPS steps, so
 * that a key ends the run as promptly on a slow display as on a fast one. */
#define BATCH_MS 2
#define CLOCK_STEPS 1024

/* Shuts Allegro down and returns the status; but after a signal the
 * process ends by that signal, so that the shell or service manager that
 * started it sees what happened. allegro_exit has put back the handlers
 * from before Allegro, not our own or the default action. */
static int end_run(int status)
{
	platform_end(status);
	allegro_exit();
	if (int sig = end_signal()) {
		signal(sig, SIG_DFL);
		raise(sig);
	}
	return status;
}

/* Nobody is left to read the message once a signal asked us to end. */
static int display_failed(void)
{
	/* With no system driver (no display at all) Allegro's allegro_message
	 * prints the text exactly as given; its X driver ends the line itself.
	 * End it here too, so the message is one whole line on standard output
	 * either way. A message box still gets the text alone. */
	if (!end_signal())
		allegro_message(system_driver ? FAILURE : FAILURE "\n");
	return end_run(1);
}

int main(void)
{
	settings s = settings_defaults();
	chaos_state state;

	srand((unsigned)time(NULL));

	/* Allegro reads text, the settings file included, as UTF-8 by default,
	 * and its decoder loops forever on some malformed bytes (the six-byte
	 * form FD 9F A5 8B BB B8, for one). The file holds only numbers and
	 * names: plain 8-bit text it is, set before Allegro starts. */
	set_uformat(U_ASCII);

	/* Without a usable display Allegro's drivers are missing and
	 * everything after this would crash: report it as the display failure. */
	if (platform_start() != 0)
		return display_failed();
	load_settings_file(SETTINGS_FILE);
	install_keyboard();
	install_mouse();

	read_screen_settings(&s);
	if (s.screenw < 1 || s.screenw > MAX_SIDE || s.screenh < 1 || s.screenh > MAX_SIDE)
		return display_failed();
	int driver = graphics_driver(&s);
	if (set_gfx_mode(driver, s.screenw, s.screenh, 0, 0) != 0)
		return display_failed();
	mode_set(&s, driver);

	/* Everything from here follows the display that was set, which need not
	 * be the size that was asked for. */
	chaos_start(&state, SCREEN_W, SCREEN_H);
	set_display_defaults(&s, SCREEN_W, SCREEN_H);
	read_picture_settings(&s);
	state.points[0] = point{ s.point_1_x, s.point_1_y };
	state.points[1] = point{ s.point_2_x, s.point_2_y };
	state.points[2] = point{ s.point_3_x, s.point_3_y };

	RGB background = { s.background_color_r, s.background_color_g, s.background_color_b, 0 };
	RGB foreground = { s.foreground_color_r, s.foreground_color_g, s.foreground_color_b, 0 };
	set_color(0, &background);
	set_color(1, &foreground);

	/* The steps draw in batches (BATCH_MS): the key, the signal and the
	 * window's loss are looked at between them, as Allegro allows no input
	 * call while the screen is held. A signal taken during start-up ends
	 * the run here, before any step. The status is the window's loss as it
	 * stands at the end, whatever ended the loop. */
	for (;;) {
		if (keypressed())
			break;
		next_turn next = what_next();
		if (next == TURN_END || next == TURN_WINDOW_LOST)
			break;
		if (next == TURN_WAIT) {
			rest(BATCH_MS);
			continue;
		}
		if (next == TURN_REDRAW)
			clear_bitmap(screen);
		if (HOLD_SCREEN)
			acquire_screen();
		auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(BATCH_MS);
		do
			for (int i = 0; i < CLOCK_STEPS; i++)
				chaos_step(&state);
		while (std::chrono::steady_clock::now() < end);
		if (HOLD_SCREEN)
			release_screen();
	}

	return end_run(what_next() == TURN_WINDOW_LOST ? 1 : 0);
}
END_OF_MAIN()
