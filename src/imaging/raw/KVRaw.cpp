// The decoder's entry: the stages in their fixed order on one context, then the tone curve from
// the brightness histogram's white point and the output rows.
#include "imaging/raw/KVRaw.h"

#include <cmath>
#include <vector>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVProgress.h"
#include "imaging/core/KVViewServices.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVDriverSupport.h"
#include "imaging/io/KVExif.h"
#include "imaging/io/KVFormatDriver.h"
#include "imaging/proc/KVFilters.h"
#include "imaging/raw/RawStages.h"
#include "platform/Classes.h"
#include "platform/PictureLimits.h"

namespace {

void Report(const TKVProgressRec& progress, int percent) {
    if (progress.OnProgress) progress.OnProgress(progress.Sender, percent);
}

bool HasPreview(TIOParamsVals& params) { return params.ExifThumbnail && !params.ExifThumbnail->IsEmpty(); }

// EXIF fields and resolution from a TIFF structure inside the file, else a CIFF heap's metadata.
void ReadMetadata(TStream& stream, TIOParamsVals& params) {
    stream.SetPosition(0);
    const int64_t at = KVSearchTIFFHeader(stream);
    if (at < 0) {
        stream.SetPosition(0);
        KVReadRawMetadata(stream, params);
        return;
    }
    stream.SetPosition(at);
    if (!KVLoadEXIFFromStream(stream, params)) return;
    const double factor = params.ExifResolutionUnit == 3 ? 2.54 : 1.0;
    params.SetDpiX(int(params.ExifXResolution * factor));
    params.SetDpiY(int(params.ExifYResolution * factor));
}

void CopyOptions(TKVRawContext& raw, TIOParamsVals& params) {
    raw.gamma = float(params.RawGamma);
    raw.brightness = float(params.RawBright);
    raw.redScale = float(params.RawRedScale);
    raw.blueScale = float(params.RawBlueScale);
    raw.autoWhiteBalance = params.RawSwitches[1];
    raw.cameraWhiteBalance = params.RawSwitches[2];
    raw.fourColorRgb = params.RawSwitches[3];
    if (params.RawAutoAdjustColors && HasPreview(params)) raw.brightness = 0.5f;
}

// The brightness below which all but 1% of the pixels lie (0.5% for one maker's sensors).
double WhitePoint(const TKVRawContext& raw) {
    const double share = raw.make == "FUJIFILM" ? 0.005 : 0.01;
    const int64_t perc = std::llround(share * raw.width * raw.height);
    int64_t total = 0;
    int bin = 0;
    for (int b = 8191; b >= 1; --b) {
        total += raw.histogram[size_t(b)];
        if (total > perc) {
            bin = b;
            break;
        }
    }
    return bin ? bin * 16.0 : 1.0;
}

std::vector<double> ToneCurve(const TKVRawContext& raw, bool deep) {
    std::vector<double> curve(65536);
    const double white = WhitePoint(raw);
    for (size_t i = 1; i < curve.size(); ++i) {
        curve[i] = std::pow(2.0 * double(i) / white, double(raw.gamma) - 1) * (double(raw.brightness) * 442 / white);
        if (deep) curve[i] = curve[i] / 255 * 65535;
    }
    return curve;
}

void WriteOutput(TKVRawContext& raw, TKVBitmap& bitmap, TIOParamsVals& params, bool deep) {
    const std::vector<double> curve = ToneCurve(raw, deep);
    const int width = raw.width - 2 * raw.border, height = (raw.height - 2 * raw.border) * raw.yRepeat;
    params.BitsPerSample = deep ? 16 : 8;
    params.SamplesPerPixel = 3;
    CheckPictureSize(width, height, deep ? 48 : 24, -1);
    bitmap.Allocate(width, height, deep ? kvRGB48 : kv24RGB);
    const double top = deep ? 65535 : 255;
    int outRow = 0;
    for (int row = raw.border; row < raw.height - raw.border; ++row) {
        const TRawPixel* pixel = &raw.image[size_t(row) * size_t(raw.width) + size_t(raw.border)];
        for (int repeat = 0; repeat < raw.yRepeat; ++repeat, ++outRow) {
            uint8_t* line = bitmap.GetScanline(outRow);
            for (int col = 0; col < width; ++col) {
                const TRawPixel& p = pixel[col];
                const double factor = curve[p[3]];
                for (int c = 0; c < 3; ++c) {
                    const double v = std::min(std::trunc(p[size_t(c)] * factor), top);
                    if (deep) reinterpret_cast<uint16_t*>(line)[3 * col + c] = uint16_t(v);
                    else line[3 * col + 2 - c] = uint8_t(v);  // blue, green, red
                }
            }
        }
    }
}

void Decode(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, TKVProgressRec& progress) {
    if (params.LoadThumbnail()) {
        if (params.ExifThumbnail) params.ExifThumbnail->FreeImage();
        params.SetLoadThumbnail(false);
        KVReadRawStream(stream, bitmap, params, true, progress);
        params.SetLoadThumbnail(true);
        if (HasPreview(params)) {
            bitmap.Assign(params.ExifThumbnail.get());
            return;
        }
    }
    ReadMetadata(stream, params);
    stream.SetPosition(0);
    const std::vector<uint8_t> bytes = ReadStreamRest(stream);

    TKVRawContext raw(bytes);
    CopyOptions(raw, params);
    raw.progress = &progress;
    if (RawIdentifyFile(raw) != 0) throw EInvalidGraphic("not a camera raw file this decoder reads");
    RawCheckGeometry(raw);

    params.RawCameraName = raw.make + " " + raw.model + " " + raw.modelExtra;
    params.SetDpiX(DefaultDpiX);
    params.SetDpiY(DefaultDpiY);
    params.ColorMap.clear();
    params.Width = raw.width - 2;
    params.Height = raw.height - 2;
    if (!paramsOnly) {
        raw.halfSize = params.RawHalfSize && raw.filterPattern ? 1 : 0;
        raw.imageHeight = (raw.height + raw.halfSize) >> raw.halfSize;
        raw.imageWidth = (raw.width + raw.halfSize) >> raw.halfSize;
        raw.image.assign(size_t(raw.imageHeight) * size_t(raw.imageWidth), TRawPixel{});
        raw.loader(raw);
        raw.height = raw.imageHeight;
        raw.width = raw.imageWidth;
        if (raw.isFoveon) RawFoveonInterpolate(raw);
        else RawBalanceWhites(raw);
        Report(progress, 70);
        if (raw.halfSize) raw.filterPattern = 0;
        raw.border = 0;
        if (raw.filterPattern && !raw.documentMode) {
            raw.border = 1;
            RawInterpolate(raw);
        }
        RawMixChannels(raw);
        Report(progress, 85);
        WriteOutput(raw, bitmap, params, params.IsNativePixelFormat);
        Report(progress, 90);
        if (raw.rotated45) RawUpright45(bitmap);
    }
    if (params.RawAutoAdjustColors && HasPreview(params)) KVMatchChannelHistograms(*params.ExifThumbnail, bitmap);
    Report(progress, 100);
}

}  // namespace

void KVReadRawStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool paramsOnly,
                     TKVProgressRec& progress) {
    RunDriver(progress, [&] { Decode(stream, bitmap, params, paramsOnly, progress); });
}

namespace {

int OnePage(TStream&) { return 1; }

// Identification on the stream itself: the head and the size first, then only the parts of the
// file that the head's container points at.
bool Identifies(TStream& stream, bool containerOnly) {
    const int64_t position = stream.Position();
    bool identified = false;
    try {
        TRawInput head(stream);
        const int64_t size = head.Size();
        const TRawHead kind = RawHeadKind(head.BytesAt(0, std::min<int64_t>(32, size)), size);
        if (containerOnly ? kind == TRawHead::container : kind != TRawHead::unknown) {
            TKVRawContext raw(stream);
            identified = RawIdentifyFile(raw) == 0;
        }
    } catch (const Exception&) {
    } catch (const std::bad_alloc&) {
    }
    stream.SetPosition(position);
    return identified;
}

}  // namespace

bool KVIsRawStream(TStream& stream) { return Identifies(stream, false); }

bool KVIsRawContainerStream(TStream& stream) { return Identifies(stream, true); }

const TKVFormatDriver KVRawDriver{.FileType = kvftRAW,
                                  .IsFormat = KVIsRawStream,
                                  .ReadHeader = KVReadHeaderBy<KVReadRawStream>,
                                  .Read = KVReadPictureBy<KVReadRawStream>,
                                  .PageCount = OnePage};
