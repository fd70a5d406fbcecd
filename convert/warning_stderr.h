// The command line's report of files that could not be converted: one line on stderr each,
// counted so that the caller can tell how a file ended.
#pragma once

#include <cstdint>

extern int32_t reportedConversionErrors;  // how many reports so far
