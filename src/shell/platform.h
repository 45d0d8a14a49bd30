/* What the run needs of the platform under it, in the few calls main makes:
 * the X Window System in x11.cpp, Windows in windows.cpp. Each file keeps
 * the handlers, drivers and Allegro mends of its own platform, so that main
 * reads as the run alone. */
#ifndef DOTFALL_PLATFORM_H
#define DOTFALL_PLATFORM_H

struct settings;

/* Starts Allegro (install_allegro, with its result), with the platform's
 * own handlers for signals and for the display's errors around it. */
int platform_start(void);

/* Allegro's graphics driver for these settings (set_gfx_mode's card). */
int graphics_driver(const settings *s);

/* What the mode set with that driver needs before the drawing starts. */
void mode_set(const settings *s, int driver);

/* Whether the screen is held (acquire_screen) while a batch of steps
 * draws. */
extern const bool HOLD_SCREEN;

/* What the run does next, asked once a turn, after Allegro's keypressed. */
enum next_turn {
	TURN_DRAW,          /* draw a batch of steps */
	TURN_WAIT,          /* draw nothing for a batch's time: it would not be shown */
	TURN_REDRAW,        /* the picture was lost: clear the screen, then draw */
	TURN_END,           /* a signal asked the run to end, as a key does */
	TURN_WINDOW_LOST    /* another client destroyed the window: end with status 1 */
};
next_turn what_next(void);

/* The signal that asked the run to end, or 0. */
int end_signal(void);

/* Just before Allegro is shut down (allegro_exit) at the end of the run,
 * which is to end with this status. */
void platform_end(int status);

#endif
