/* The program's version, as the version resources and `wobzy-cli --version` show it. */
#pragma once

#define WOBZY_VERSION_NUMBERS 1, 0, 0, 1
#define WOBZY_VERSION_TEXT "1, 0, 0, 1"
#define WOBZY_VERSION_DOTTED "1.0.0.1"
