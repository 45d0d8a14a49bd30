/* The chaos-game plotter. Pixels go straight to the library's visible
 * screen; its putpixel clips to the display, so positions outside it cost
 * nothing but the move. */
#include "chaos.h"

#include <cstdlib>
#include <allegro.h>

/* Half of a + b, truncated toward zero. The sum is widened first, so that
 * points near the 32-bit limits do not overflow; the half always fits. */
static int32_t halfway(int32_t a, int32_t b)
{
	return (int32_t)(((int64_t)a + b) / 2);
}

void chaos_start(chaos_state *state, int32_t w, int32_t h)
{
	state->current.x = w / 2;
	state->current.y = h / 2;
}

void chaos_step(chaos_state *state)
{
	const point *p = &state->points[rand() % 3];

	state->current.x = halfway(state->current.x, p->x);
	state->current.y = halfway(state->current.y, p->y);
	putpixel(screen, state->current.x, state->current.y, 1);
}
