// The words the command line gives a failed file: the step's code and the system's reason.
#pragma once

#include <string>

#include "convert/conversion_job.h"
#include "imaging/imaging.h"

// "no such file", "too large: 20000 × 20000 needs 9155 MB", ...: why step `failure` failed, from
// what the image library recorded (or, when it recorded nothing, from the step alone).
std::string FailureReason(ConversionFailure failure, const imaging::FailureReport& report);
