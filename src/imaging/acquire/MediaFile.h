#pragma once
// One video file opened for frame access: measured once, then sought and grabbed frame by frame.
// Every open and every grab is bounded in time, so a damaged or hostile file cannot hang; the
// frames are counted one by one in a bounded part of the file, so a huge file opens as fast.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class TKVBitmap;
struct TBgrFrame;

class TKVMediaFile {
public:
    // Time values are in units of 100 ns.
    static constexpr int64_t Second = 10'000'000;

    // The bytes of a file read to count its frames one by one; past them the rest is estimated.
    static constexpr int64_t CountedBytes = int64_t(64) << 20;

    explicit TKVMediaFile(const std::string& fileName, int64_t countedBytes = CountedBytes);
    // Reads the video from memory; the bytes must outlive the object.
    TKVMediaFile(const uint8_t* data, size_t size, int64_t countedBytes = CountedBytes);
    ~TKVMediaFile();
    TKVMediaFile(const TKVMediaFile&) = delete;
    TKVMediaFile& operator=(const TKVMediaFile&) = delete;

    // True when a video stream was found and its decoder opened.
    bool IsConnected() const;
    // Why the file could not be opened; empty when it was.
    const std::string& Problem() const { return problem_; }
    // 0 when unknown.
    int64_t Duration() const;
    // The frames the container's index counts; 0 when it keeps none.
    int64_t IndexedFrameCount() const;
    // Exact when the counted bytes held the whole video; else the index's count where the
    // container keeps a true one, else the frames counted and the rest at their rate.
    int64_t FrameCount() const;
    // 0 when the stream declares no frame rate.
    int64_t AvgTimePerFrame() const;
    int Width() const;
    int Height() const;
    // Seeks back from the time (counted from the first frame) and decodes up to the frame shown
    // then, into a kv24RGB bitmap. False, with the bitmap unchanged, when no frame arrives.
    bool GetFrameAt(int64_t time, TKVBitmap& bitmap);
    // Frame index (from 0) as GetFrameAt; false for an index outside FrameCount.
    bool GetFrame(int64_t index, TKVBitmap& bitmap);

private:
    struct TState;
    struct TPacketCount;
    enum class TGrab { Found, Late, Nothing };
    // protocols: the FFmpeg protocols the demuxer may open, separated by commas.
    void Open(const std::string& url, const char* protocols, int64_t countedBytes);
    int64_t DeclaredDuration() const;
    TPacketCount CountPackets(int64_t countedBytes);
    void CountFrames(int64_t countedBytes);
    // The frame shown at the stream timestamp: the first to begin no earlier than `early` before it.
    bool GetFrameShownAt(int64_t target, int64_t early, TKVBitmap& bitmap);
    // The frame decoded as the index-th from the start.
    bool GetFrameCounted(int64_t index, TKVBitmap& bitmap);
    // Seeks back from the timestamp (FileStart: to the first packet) and decodes up to the target;
    // Late when the first frame decoded lies past it (unless allowed).
    static constexpr int64_t FileStart = INT64_MIN;
    TGrab Grab(int64_t from, int64_t target, int64_t early, bool lateAllowed, TBgrFrame& grabbed);
    std::unique_ptr<TState> state_;
    std::string problem_;
};
