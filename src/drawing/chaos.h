/* The chaos-game plotter: three points, a current position, and one step
 * that moves half-way toward a randomly chosen point and lights the pixel
 * it lands on. */
#ifndef DOTFALL_CHAOS_H
#define DOTFALL_CHAOS_H

#include <cstdint>

struct point {
	int32_t x, y;   /* display pixels: x to the right, y downward */
};

struct chaos_state {
	point points[3];
	point current;
};

void chaos_start(chaos_state *state, int32_t w, int32_t h);
void chaos_step(chaos_state *state);

/* The steps are drawn in batches, with a look for a key between them. A
 * batch ends after BATCH_MS, read on the clock every CLOCK_STEPS steps, so
 * that a key ends the run as promptly on a slow display as on a fast one. */
#define BATCH_MS 2
#define CLOCK_STEPS 1024

#endif
