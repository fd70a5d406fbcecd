// The record behind LastFailure(): set where an operation fails, cleared where one succeeds.
#pragma once

#include "imaging/imaging.h"

namespace imaging::detail {

void ClearFailure();
void SetFailure(Failure failure);
// Records `failure` unless a more precise reason was recorded since the last ClearFailure.
void SetFailureUnlessSet(Failure failure);
// Records a whole report, as a decoding child process handed it back.
void SetFailureReport(const FailureReport& report);
void SetTooLarge(int64_t width, int64_t height, uint64_t bytesNeeded);
// The failure an errno value stands for when opening a file to read it.
Failure FailureOfOpen(int error);
// The failure an errno value stands for when writing a file.
Failure FailureOfWrite(int error);

}  // namespace imaging::detail
