#pragma once
// The stages of one decode, in the order the entry runs them, and the machinery they share.
#include <cstdint>
#include <span>
#include <vector>

#include "imaging/raw/RawContext.h"

class TKVBitmap;

// What the first 32 bytes (fewer for a shorter file) and the size promise before identification
// reads more: a TIFF structure, a raw container of another kind, a head or size that pictures of
// other formats share (a bitmap's head, a size of the size table), or nothing the decoder reads.
enum class TRawHead { unknown, tiff, container, shared };
TRawHead RawHeadKind(std::span<const uint8_t> head, int64_t fileSize);

// Identification: 0 when the file is a raw file the decoder reads (the input then stands at
// the raw data), 1 otherwise. Never throws for a file it does not know.
int RawIdentifyFile(TKVRawContext& raw);

// Header parsers.
void RawWalkTiffIfds(TKVRawContext& raw, int64_t base);
void RawWalkCiffHeap(TKVRawContext& raw, int64_t offset, int64_t length, int depth = 0);
void RawReadRolleiHeader(TKVRawContext& raw);
void RawParseFoveon(TKVRawContext& raw);

// Bit reader and Huffman trees.
uint32_t RawGetBits(TKVRawContext& raw, int n);  // n = -1 resets, 0 reads nothing
void RawInitDecoder(TKVRawContext& raw);
// Builds a tree at the next free node from 16 counts and the symbols after them; returns the
// number of source bytes used.
int RawBuildDecoder(TKVRawContext& raw, std::span<const uint8_t> source, int level = 0);
int RawDecodeLeaf(TKVRawContext& raw, int root);
int RawTakeNode(TKVRawContext& raw);
void RawCanonTables(TKVRawContext& raw, uint32_t table);
std::vector<uint16_t> RawKodakCurve(TKVRawContext& raw);

// Loaders.
void RawLoadCanonCompressed(TKVRawContext& raw);
void RawLoadJpegLossless(TKVRawContext& raw);
void RawLoadNikonCompressed(TKVRawContext& raw);
void RawLoadCanonPs600(TKVRawContext& raw);
void RawLoadCanonPsA5(TKVRawContext& raw);
void RawLoadNikonE2100(TKVRawContext& raw);
void RawLoadCasioQv5700(TKVRawContext& raw);
void RawLoadRolleiD530flex(TKVRawContext& raw);
void RawLoadBitstream12(TKVRawContext& raw);
void RawLoadNikonE950(TKVRawContext& raw);
void RawLoadNikonPlain(TKVRawContext& raw);
void RawLoadOlympusC5050(TKVRawContext& raw);
void RawLoadUnpackedBe(TKVRawContext& raw);
void RawLoadUnpackedBeShr2(TKVRawContext& raw);
void RawLoadUnpackedBeShl2(TKVRawContext& raw);
void RawLoadUnpackedBeShl4(TKVRawContext& raw);
void RawLoadUnpackedLeShr2(TKVRawContext& raw);
void RawLoadEightBit(TKVRawContext& raw);
void RawLoadNucore(TKVRawContext& raw);
void RawLoadIxpress(TKVRawContext& raw);
void RawLoadPhaseOne(TKVRawContext& raw);
void RawLoadKodakEasy(TKVRawContext& raw);
void RawLoadKodakDc120(TKVRawContext& raw);
void RawLoadKodakDc120Jpeg(TKVRawContext& raw);
void RawLoadKodakDc40(TKVRawContext& raw);
void RawLoadKodakCompressedCfa(TKVRawContext& raw);
void RawLoadKodakCompressedColor(TKVRawContext& raw);
void RawLoadSonyF828(TKVRawContext& raw);
// Sensors at 45 degrees: each sets rotated45, and the output is rebuilt upright.
void RawLoadFujiS2pro(TKVRawContext& raw);
void RawLoadFujiS5000(TKVRawContext& raw);
void RawLoadFujiS7000(TKVRawContext& raw);
void RawLoadFujiF700(TKVRawContext& raw);
void RawLoadFoveon(TKVRawContext& raw);

// Colour.
void RawFoveonInterpolate(TKVRawContext& raw);
void RawBalanceWhites(TKVRawContext& raw);
void RawInterpolate(TKVRawContext& raw);
void RawMixChannels(TKVRawContext& raw);
void RawSetCmygMatrix(TKVRawContext& raw);
void RawSetFixedMatrix(TKVRawContext& raw, const float (&matrix)[3][4]);
extern const float rawDc20Matrix[3][4];
extern const float rawNikonMatrix[3][4];
extern const float rawF828Matrix[3][4];
void RawSetFoveonMatrix(TKVRawContext& raw);

// Turns the diamond that a 45-degree sensor's picture forms into an upright picture of its own
// size (24 or 48 bits); a picture whose first row is black stays as it is.
void RawUpright45(TKVBitmap& bitmap);

// Refuses sizes a loader cannot work with: too small, margins past the raster, a raster larger
// than the picture limits allow for the file.
void RawCheckGeometry(const TKVRawContext& raw);
