#include "imaging/io/KVIOSettings.h"

#include "imaging/io/IOParamsVals.h"

void KVTakeScannedParams(TIOParamsVals& record, const TIOParamsVals& scanned) {
    if (&record == &scanned) return;
    record.Width = scanned.Width;
    record.Height = scanned.Height;
    record.BitsPerSample = scanned.BitsPerSample;
    record.SamplesPerPixel = scanned.SamplesPerPixel;
    record.SetDpiX(scanned.DpiX());
    record.SetDpiY(scanned.DpiY());
}
