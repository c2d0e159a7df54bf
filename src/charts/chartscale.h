#pragma once
// Round numbers for the scales of the pictures: the value at the circle of the vector diagram and the
// tick step of a chart axis. A scale a person reads at a glance is one of few digits.

// The smallest of 1; 1,2; 1,5; 2; 2,5; 3; 4; 5; 6; 8 times a power of ten that is not below `value`.
// The steps are close enough that the longest arrow reaches at least 80 % of the circle. 0 for a
// value that is not positive or not finite.
double NiceCeiling(double value);

// A tick step of 1, 2 or 5 times a power of ten that divides `span` into at most `maxTicks` intervals
// (at least one). 0 for a span that is not positive or not finite.
double NiceStep(double span, int maxTicks);
