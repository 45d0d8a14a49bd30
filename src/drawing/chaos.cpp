/* The chaos-game plotter. Pixels go straight to Allegro's visible screen;
 * its putpixel clips to the display, so positions outside it cost nothing
 * but the move. */
#include "chaos.h"

#include <allegro.h>

void chaos_start(chaos_state *state, int32_t w, int32_t h)
{
	state->current.x = w / 2;
	state->current.y = h / 2;
}

void chaos_step(chaos_state *state)
{
	state->current = chaos_next(state->points, state->current);
	putpixel(screen, state->current.x, state->current.y, 1);
}
