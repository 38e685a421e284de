#include "imaging/core/KVResample.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVBits.h"
#include "imaging/core/KVResampleKernel.h"

namespace {

bool IsKernel(TResampleFilter filter) { return filter >= rfTriangle && filter <= rfLinear; }

// dest in the given format at its own size.
void Prepare(TKVBitmap& dest, TKVPixelFormat format) {
    if (dest.GetPixelFormat() != format) dest.Allocate(dest.GetWidth(), dest.GetHeight(), format);
}

bool Usable(TKVBitmap& source, TKVBitmap& dest) {
    return &source != &dest && !source.IsEmpty() && dest.GetWidth() > 0 && dest.GetHeight() > 0;
}

TKVKernelJob KernelJob(TKVBitmap& source, TKVBitmap& dest, int channels) {
    return TKVKernelJob{source.GetWidth(), source.GetHeight(), dest.GetWidth(), dest.GetHeight(), channels, {}, {}, {}};
}

std::unique_ptr<TKVBitmap> WorkBitmap(TKVBitmap& like) {
    auto work = std::make_unique<TKVBitmap>();
    work->SetMemoryThreshold(like.MemoryThreshold());
    return work;
}

// A copy of the source that the dispatcher may change: 24-bit unless it is 1-bit, with its
// alpha channel, transparent pixels filled with gray.
std::unique_ptr<TKVBitmap> PreparedCopy(TKVBitmap& source) {
    auto copy = WorkBitmap(source);
    copy->Assign(&source);
    if (copy->GetPixelFormat() != kv1Bit && copy->GetPixelFormat() != kv24RGB) copy->SetPixelFormat(kv24RGB);
    if (copy->GetHasAlphaChannel()) KVFillTransparentPixels(*copy, 0x808080);
    return copy;
}

}  // namespace

void KVResampleBitmap(TKVBitmap& source, TKVBitmap& dest, TResampleFilter filter, TObject* sender,
                      const TKVProgressEvent& progress) {
    if (!Usable(source, dest)) return;
    const TKVPixelFormat format = source.GetPixelFormat();
    const bool needsCopy =
        filter != rfNone && (source.GetHasAlphaChannel() || (format != kv1Bit && format != kv24RGB));
    std::unique_ptr<TKVBitmap> copy = needsCopy ? PreparedCopy(source) : nullptr;
    TKVBitmap& from = copy ? *copy : source;
    // A 24-bit result of a source in another format goes back to the destination's format.
    const TKVPixelFormat wanted = dest.GetPixelFormat();
    const bool convertBack = copy && format != kv1Bit && format != kv24RGB && wanted != kvNoFormat &&
                             filter != rfProjectBW && filter != rfProjectWB;
    if (filter == rfNone) KVResampleNearest(from, dest, sender, progress);
    else if (from.GetPixelFormat() == kv1Bit) KVResample1Bit(from, dest, filter);
    else KVResample24Bit(from, dest, filter, sender, progress);
    if (convertBack && dest.GetPixelFormat() != wanted) {
        dest.SetPaletteColors(source.PaletteColors());
        dest.SetPixelFormat(wanted);
    }
    if (!from.GetHasAlphaChannel()) {
        dest.RemoveAlphaChannel();
        return;
    }
    TKVBitmap* sourceAlpha = from.GetAlphaChannel();
    TKVBitmap* destAlpha = dest.GetAlphaChannel();
    if (filter == rfNone) KVResampleNearest(*sourceAlpha, *destAlpha);
    else KVResampleChannel8(*sourceAlpha, *destAlpha, filter);
    destAlpha->SetFull(sourceAlpha->Full());
}

void KVResampleNearest(TKVBitmap& source, TKVBitmap& dest, TObject* sender, const TKVProgressEvent& progress) {
    if (!Usable(source, dest)) return;
    const TKVPixelFormat format = source.GetPixelFormat();
    Prepare(dest, format);
    const int sourceWidth = source.GetWidth(), sourceHeight = source.GetHeight();
    const int width = dest.GetWidth(), height = dest.GetHeight();
    const int bits = source.GetBitCount();
    std::vector<int> columns(static_cast<size_t>(width));
    for (int i = 0; i < width; ++i) columns[size_t(i)] = int(double(sourceWidth) / width * i);
    std::vector<uint8_t> row(static_cast<size_t>(source.GetRowLen()));
    std::vector<uint8_t> out(static_cast<size_t>(dest.GetRowLen()));
    TKVAccessScope reading(source, kvaRead);
    TKVAccessScope writing(dest, kvaWrite);
    int loaded = -1;
    const size_t bytes = size_t(bits / 8);
    for (int l = 0; l < height; ++l) {
        const int y = int(double(sourceHeight) / height * l);
        if (y != loaded) {
            std::memcpy(row.data(), source.GetScanline(y), row.size());
            loaded = y;
        }
        if (bits == 1) {
            std::fill(out.begin(), out.end(), 0);
            for (int i = 0; i < width; ++i)
                if (KVGetBit(row.data(), columns[size_t(i)])) KVSetBit(out.data(), i, true);
        } else {
            for (int i = 0; i < width; ++i)
                std::memcpy(out.data() + size_t(i) * bytes, row.data() + size_t(columns[size_t(i)]) * bytes, bytes);
        }
        std::memcpy(dest.GetScanline(l), out.data(), out.size());
        if (progress) progress(sender, int(100 / (height + 0.5) * l));
    }
}

void KVResample24Bit(TKVBitmap& source, TKVBitmap& dest, TResampleFilter filter, TObject* sender,
                     const TKVProgressEvent& progress) {
    if (!Usable(source, dest) || source.GetPixelFormat() != kv24RGB) return;
    switch (filter) {
        case rfNone: KVResampleNearest(source, dest, sender, progress); return;
        case rfFastLinear: KVResampleFastLinear24(source, dest, sender, progress); return;
        case rfBilinear:
        case rfBicubic: KVResampleArea24(source, dest, filter == rfBicubic, sender, progress); return;
        case rfProjectBW:
        case rfProjectWB: KVProject24To1Bit(source, dest, filter == rfProjectWB, sender, progress); return;
        default: break;
    }
    if (!IsKernel(filter)) return;
    Prepare(dest, kv24RGB);
    TKVKernelJob job = KernelJob(source, dest, 3);
    TKVAccessScope reading(source, kvaRead);
    TKVAccessScope writing(dest, kvaWrite);
    job.sourceRow = [&](int y) { return source.GetScanline(y); };
    job.storeRow = [&](int y, const uint8_t* row) { std::memcpy(dest.GetScanline(y), row, size_t(job.targetWidth) * 3); };
    if (progress) {
        const double step = 100 / (job.sourceHeight + job.targetHeight + 0.5);
        job.progress = [&, step](int done) { progress(sender, int(done * step)); };
    }
    KVKernelResample(job, filter);
}

void KVResample1Bit(TKVBitmap& source, TKVBitmap& dest, TResampleFilter filter) {
    if (!Usable(source, dest) || source.GetPixelFormat() != kv1Bit) return;
    switch (filter) {
        case rfNone: KVResampleNearest(source, dest); return;
        case rfFastLinear:
        case rfBilinear:
        case rfBicubic: KVResample1BitLinear(source, dest); return;
        case rfProjectBW:
        case rfProjectWB: KVProject1Bit(source, dest, filter == rfProjectWB); return;
        default: break;
    }
    if (!IsKernel(filter)) return;
    Prepare(dest, kv24RGB);
    TKVKernelJob job = KernelJob(source, dest, 1);
    std::vector<uint8_t> levels(static_cast<size_t>(job.sourceWidth));
    std::vector<uint8_t> gray(size_t(job.targetWidth) * 3);
    TKVAccessScope reading(source, kvaRead);
    TKVAccessScope writing(dest, kvaWrite);
    job.sourceRow = [&](int y) {
        const uint8_t* bits = source.GetScanline(y);
        for (int x = 0; x < job.sourceWidth; ++x) levels[size_t(x)] = KVGetBit(bits, x) ? 255 : 0;
        return levels.data();
    };
    job.storeRow = [&](int y, const uint8_t* row) {
        for (int x = 0; x < job.targetWidth; ++x) std::fill_n(gray.begin() + 3 * x, 3, row[x]);
        std::memcpy(dest.GetScanline(y), gray.data(), gray.size());
    };
    KVKernelResample(job, filter);
}

void KVResampleChannel8(TKVBitmap& source, TKVBitmap& dest, TResampleFilter filter) {
    if (!Usable(source, dest)) return;
    if (filter == rfNone) {
        KVResampleNearest(source, dest);
        return;
    }
    if (!IsKernel(filter)) {
        KVResampleLinear8(source, dest);
        return;
    }
    Prepare(dest, source.GetPixelFormat());
    TKVKernelJob job = KernelJob(source, dest, 1);
    TKVAccessScope reading(source, kvaRead);
    TKVAccessScope writing(dest, kvaWrite);
    job.sourceRow = [&](int y) { return source.GetScanline(y); };
    job.storeRow = [&](int y, const uint8_t* row) { std::memcpy(dest.GetScanline(y), row, size_t(job.targetWidth)); };
    KVKernelResample(job, filter);
}

void KVFillTransparentPixels(TKVBitmap& bitmap, uint32_t color) {
    if (bitmap.GetPixelFormat() != kv24RGB || !bitmap.GetHasAlphaChannel() || bitmap.IsEmpty()) return;
    TKVBitmap& alpha = *bitmap.GetAlphaChannel();
    if (alpha.Full()) return;
    const TKVRGB fill{uint8_t(color), uint8_t(color >> 8), uint8_t(color >> 16)};
    const int width = bitmap.GetWidth();
    std::vector<uint8_t> opacity(static_cast<size_t>(width));
    TKVAccessScope readingAlpha(alpha, kvaRead);
    TKVAccessScope updating(bitmap, kvaReadWrite);
    for (int y = 0; y < bitmap.GetHeight(); ++y) {
        std::memcpy(opacity.data(), alpha.GetScanline(y), opacity.size());
        auto* row = reinterpret_cast<TKVRGB*>(bitmap.GetScanline(y));
        for (int x = 0; x < width; ++x)
            if (opacity[size_t(x)] == 0) row[x] = fill;
    }
}
