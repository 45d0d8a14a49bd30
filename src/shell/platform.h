/* What the run needs of the platform under it, in the few calls main makes:
 * the X Window System in x11.cpp, Windows in windows.cpp. Each file keeps
 * the handlers, drivers and library mends of its own platform, so that main
 * reads as the run alone. */
#ifndef DOTFALL_PLATFORM_H
#define DOTFALL_PLATFORM_H

struct settings;

/* Starts the library (install_allegro with its result), with the
 * platform's own handlers for signals and for the display's errors around
 * it. */
int platform_start(void);

/* The library's display driver for these settings. */
int display_driver(const settings *s);

/* What the display set with that driver needs before the drawing starts. */
void display_set(const settings *s, int driver);

/* Whether the screen is held (acquire_screen) while a batch of steps
 * draws. */
bool hold_screen(void);

/* The signal that asked the run to end, or 0. */
int end_signal(void);

/* Whether the display is still there: not once another client has
 * destroyed its window, which ends the run with status 1. */
bool display_shown(void);

/* Whether what is drawn now is shown: not while a full screen is switched
 * away on Windows, where the run only waits for the key. */
bool picture_shown(void);

/* Whether the picture on the display was lost since this was last asked
 * (a full screen switched away and back), to be cleared and drawn again. */
bool picture_lost(void);

/* Just before the library is shut down at the end of the run, which is to
 * end with this status. */
void platform_end(int status);

#endif
