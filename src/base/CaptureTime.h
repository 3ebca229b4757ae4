// Capture times: OLE Automation dates in UTC, and the local dates they fall on.
#pragma once

#include <windows.h>

#include <string>

// Current UTC time as an OLE Automation date, in whole seconds.
double CurrentCaptureTime();
// The capture time as local time; false for a time out of range.
bool CaptureTimeToLocal(double captureTime, SYSTEMTIME& local);
// "d_M_yyyy" of the capture time's local date (the date folder's name).
std::string DateFolderName(double captureTime);
