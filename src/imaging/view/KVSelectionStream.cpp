// The stream form of the view's selection, kept by the processing component's undo.
#include <cstring>

#include "imaging/core/KVBasicHelpers.h"
#include "imaging/view/KVSelection.h"
#include "platform/ByteWriter.h"
#include "platform/PictureLimits.h"

namespace {

void WriteInt(TStream& stream, int value) {
    const auto v = uint32_t(value);
    uint8_t bytes[4];
    StoreU32LE(bytes, v);
    stream.WriteBuffer(bytes, 4);
}

void WriteByte(TStream& stream, bool value) {
    const uint8_t byte = value ? 1 : 0;
    stream.WriteBuffer(&byte, 1);
}

// Reads without ever passing the end of the stream; a short read fails the whole load.
class TFieldReader {
public:
    explicit TFieldReader(TStream& stream) : stream_(stream), left_(stream.Size() - stream.Position()) {}
    int64_t Left() const { return left_; }
    bool Bytes(void* buffer, int64_t count) {
        if (count < 0 || count > left_ || stream_.Read(buffer, count) != count) return false;
        left_ -= count;
        return true;
    }
    bool Int(int& value) {
        uint8_t b[4];
        if (!Bytes(b, 4)) return false;
        value = int(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24);
        return true;
    }
    bool Flag(bool& value) {
        uint8_t b;
        if (!Bytes(&b, 1)) return false;
        value = b != 0;
        return true;
    }
    bool Rect(TRect& r) { return Int(r.Left) && Int(r.Top) && Int(r.Right) && Int(r.Bottom); }

private:
    TStream& stream_;
    int64_t left_;
};

bool SaneCoordinate(int v) { return v >= -TKVMask::PolygonBreak && v <= TKVMask::PolygonBreak; }

// An empty mask box, or one inside the mask.
bool SaneMaskBox(const TRect& box, int width, int height) {
    if (box.Left == TKVMask::EmptyBox) return true;
    return box.Left >= 0 && box.Left <= box.Right && box.Right < width && box.Top >= 0 && box.Top <= box.Bottom &&
           box.Bottom < height;
}

}  // namespace

void TKVSelection::Save(TStream& stream) const {
    WriteInt(stream, Mask.Width());
    WriteInt(stream, Mask.Height());
    WriteInt(stream, Count());
    for (TPoint p : points_) {
        WriteInt(stream, p.X);
        WriteInt(stream, p.Y);
    }
    for (int v : {box_.Left, box_.Top, box_.Right, box_.Bottom}) WriteInt(stream, v);
    WriteByte(stream, Present);
    WriteInt(stream, Mask.BitsPerPixel());
    for (int v : {Mask.X1, Mask.Y1, Mask.X2, Mask.Y2}) WriteInt(stream, v);
    WriteByte(stream, Mask.Full());
    for (int y = Mask.Height() - 1; y >= 0; --y) stream.WriteBuffer(Mask.GetScanline(y), Mask.RowLen());
}

bool TKVSelection::Load(TStream& stream) {
    TFieldReader in(stream);
    int width, height, count;
    if (!in.Int(width) || !in.Int(height) || !in.Int(count)) return false;
    // No mask at all (a view that never had a picture), or a mask of a size a picture may have.
    const bool noBits = width == 0 && height == 0;
    if (!noBits && !PictureSizeProblem(width, height, 1, -1).empty()) return false;
    if (count < 0 || count > MaxPoints || int64_t(count) * 8 > in.Left()) return false;
    std::vector<TPoint> points(static_cast<size_t>(count));
    for (TPoint& p : points)
        if (!in.Int(p.X) || !in.Int(p.Y) || !SaneCoordinate(p.X) || !SaneCoordinate(p.Y)) return false;
    TRect polygonBox, maskBox;
    bool present, full;
    int bits;
    if (!in.Rect(polygonBox) || !in.Flag(present) || !in.Int(bits) || !in.Rect(maskBox) || !in.Flag(full))
        return false;
    if (noBits ? bits != 0 && bits != 1 && bits != 8 : bits != 1 && bits != 8) return false;
    if (!SaneMaskBox(maskBox, width, height)) return false;
    const int64_t rowLen = noBits ? 0 : KVBitmapRowLen(width, bits, 32);
    if (rowLen * height > in.Left()) return false;
    std::vector<uint8_t> rows(size_t(rowLen * height));
    if (!in.Bytes(rows.data(), int64_t(rows.size()))) return false;

    points_ = std::move(points);
    SyncBox();
    Mask.AllocateBits(width, height, bits);
    for (int i = 0; i < height; ++i)
        std::memcpy(Mask.GetScanline(height - 1 - i), rows.data() + i * rowLen, size_t(rowLen));
    Mask.X1 = maskBox.Left, Mask.Y1 = maskBox.Top, Mask.X2 = maskBox.Right, Mask.Y2 = maskBox.Bottom;
    Mask.SetFull(full);
    Present = present && !Mask.IsEmpty();
    Visible = Present;
    return true;
}
