#include "base/CaptureTime.h"

#include <oleauto.h>

#include <cmath>

double CurrentCaptureTime() {
    SYSTEMTIME now;
    ::GetSystemTime(&now);
    now.wMilliseconds = 0;
    double time = 0;
    ::SystemTimeToVariantTime(&now, &time);
    return time;
}

bool CaptureTimeToLocal(double captureTime, SYSTEMTIME& local) {
    if (!std::isfinite(captureTime)) return false;
    SYSTEMTIME utc;
    FILETIME utcFile, localFile;
    return ::VariantTimeToSystemTime(captureTime, &utc) && ::SystemTimeToFileTime(&utc, &utcFile) &&
           ::FileTimeToLocalFileTime(&utcFile, &localFile) && ::FileTimeToSystemTime(&localFile, &local);
}

std::string DateFolderName(double captureTime) {
    SYSTEMTIME local;
    if (!CaptureTimeToLocal(captureTime, local)) return {};
    char text[64] = {};
    if (::GetDateFormatA(LOCALE_SYSTEM_DEFAULT, 0, &local, "d_M_yyyy", text, sizeof(text)) <= 0) return {};
    return text;
}
