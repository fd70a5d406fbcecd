/* The program's version, as the version resource shows it. */
#pragma once

#define WOBZY_VERSION_NUMBERS 1, 0, 0, 1
#define WOBZY_VERSION_TEXT "1, 0, 0, 1"
