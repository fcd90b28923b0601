#pragma once

// Counts the game's rand() draws: the driver is linked with `-Wl,--wrap=rand`, so every rand()
// call of the game's code (and the driver's) goes through a counter before the C library's.

// The rand() draws of this run so far.
long long randDraws();
