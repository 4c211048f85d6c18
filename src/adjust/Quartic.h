// Real roots of a monic quartic by Ferrari's method.
#pragma once

// Real roots of x^4 + a x^3 + b x^2 + c x + d = 0 with (a, b, c, d) =
// coefficients. Returns the number of roots written (0, 2 or 4); roots come in
// pairs, those of the first quadratic factor first. Non-finite coefficients
// give no root.
short SolveQuartic(const double coefficients[4], double roots[4]);
