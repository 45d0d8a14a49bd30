/* The chaos-game plotter: three points, a current position, and one step
 * that moves half-way toward a randomly chosen point and lights the pixel
 * it lands on. */
#ifndef DOTFALL_CHAOS_H
#define DOTFALL_CHAOS_H

#include <cstdint>
#include <cstdlib>

struct point {
	int32_t x, y;   /* display pixels: x to the right, y downward */
};

struct chaos_state {
	point points[3];
	point current;
};

void chaos_start(chaos_state *state, int32_t w, int32_t h);
void chaos_step(chaos_state *state);

/* The step's arithmetic: half-way from `from` toward one of the three points,
 * picked by one rand(). Each half is truncated toward zero, and the sums are
 * widened first, so that points near the 32-bit limits do not overflow; the
 * half always fits. Inline here so that the benchmark's loops, which draw
 * without chaos_step, take the very same arithmetic. */
inline point chaos_next(const point points[3], point from)
{
	const point &p = points[rand() % 3];
	return point{ (int32_t)(((int64_t)from.x + p.x) / 2), (int32_t)(((int64_t)from.y + p.y) / 2) };
}

#endif
