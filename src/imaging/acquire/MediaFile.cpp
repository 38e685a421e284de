#include "imaging/acquire/MediaFile.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

extern "C" {
#include <libavutil/mem.h>
}

#include "imaging/acquire/FFmpegSupport.h"
#include "platform/Exception.h"
#include "platform/PictureLimits.h"

namespace {

// Bounds on one open and one grab; a video of ordinary size needs a fraction of them.
constexpr std::chrono::seconds OpenTime(10);
constexpr std::chrono::seconds GrabTime(10);
constexpr AVRational HundredNanoseconds{1, int(TKVMediaFile::Second)};
// Frames counted one by one at most; a file of tiny packets stops here rather than at its bytes.
constexpr int64_t MostCountedFrames = int64_t(1) << 20;

// Timestamps come from the file: sums and products of them saturate instead of overflowing.
int64_t Add(int64_t a, int64_t b) {
    int64_t sum;
    return __builtin_add_overflow(a, b, &sum) ? (b > 0 ? INT64_MAX : INT64_MIN) : sum;
}
int64_t Multiply(int64_t a, int64_t b) {
    int64_t product;
    return __builtin_mul_overflow(a, b, &product) ? ((a < 0) != (b < 0) ? INT64_MIN : INT64_MAX) : product;
}

// Bytes in memory served to the demuxer as a seekable file.
struct TMemorySource {
    const uint8_t* data = nullptr;
    int64_t size = 0;
    int64_t position = 0;

    static int Read(void* opaque, uint8_t* buffer, int wanted) {
        auto& self = *static_cast<TMemorySource*>(opaque);
        const int64_t count = std::min<int64_t>(wanted, self.size - self.position);
        if (count <= 0) return AVERROR_EOF;
        std::memcpy(buffer, self.data + self.position, size_t(count));
        self.position += count;
        return int(count);
    }
    static int64_t Seek(void* opaque, int64_t offset, int whence) {
        auto& self = *static_cast<TMemorySource*>(opaque);
        whence &= ~AVSEEK_FORCE;
        if (whence == AVSEEK_SIZE) return self.size;
        const int64_t base = whence == SEEK_CUR ? self.position : whence == SEEK_END ? self.size : 0;
        if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return -1;
        if (offset > self.size - base || base + offset < 0) return -1;
        self.position = base + offset;
        return self.position;
    }
};

// The containers of video files. Demuxers beyond them read pictures as one-frame videos, or follow
// playlists and lists of files to other resources, which a video file here never does.
constexpr const char* VideoContainers =
    "avi,mpeg,mpegts,mpegvideo,m4v,asf,mov,matroska,flv,ogg,h264,hevc,dv,nut,ivf,yuv4mpegpipe,wtv,rm,mxf";

// Containers whose index lists every frame of the stream, so that its count is the true one.
bool IndexCountsEveryFrame(const AVFormatContext& format) {
    const std::string_view name = format.iformat->name;
    return name == "avi" || name.starts_with("mov,");
}

int64_t StartOf(const AVStream& stream) { return stream.start_time == AV_NOPTS_VALUE ? 0 : stream.start_time; }

struct TIOCloser {
    void operator()(AVIOContext* io) const {
        if (io) av_freep(&io->buffer);
        avio_context_free(&io);
    }
};

}  // namespace

struct TKVMediaFile::TState {
    TFFmpegDeadline deadline;
    TMemorySource memory;
    std::unique_ptr<AVIOContext, TIOCloser> io;
    std::unique_ptr<AVFormatContext, TFFmpegFormatCloser> format;
    std::unique_ptr<AVCodecContext, TFFmpegCodecCloser> decoder;
    AVStream* stream = nullptr;
    TBgrConverter converter;
    int64_t duration = 0;
    int64_t frameCount = 0;
    // When every frame was counted with its timestamp: the timestamps in the order shown.
    std::vector<int64_t> frameTimes;
    // A stream whose frames carry no timestamps is read from its start, frame by frame: the
    // frames decoded since the start, -1 once the decoder was sent elsewhere.
    bool countedFromStart = false;
    int64_t framesDecoded = -1;
};

// What a read of the video's packets from the start found. Demuxers hand one frame per packet.
struct TKVMediaFile::TPacketCount {
    int64_t frames = 0;
    bool wholeFile = false;
    int64_t end = AV_NOPTS_VALUE;  // the latest timestamp at which a frame ends
    std::vector<int64_t> times;    // the timestamps of the frames that have one
};

// A name is always a local file, never a URL of another protocol.
TKVMediaFile::TKVMediaFile(const std::string& fileName, int64_t countedBytes) : state_(std::make_unique<TState>()) {
    Open("file:" + fileName, "file", countedBytes);
}

TKVMediaFile::TKVMediaFile(const uint8_t* data, size_t size, int64_t countedBytes)
    : state_(std::make_unique<TState>()) {
    state_->memory = {data, int64_t(size), 0};
    constexpr int bufferSize = 4096;
    auto* buffer = static_cast<uint8_t*>(av_malloc(bufferSize));
    AVIOContext* io = buffer ? avio_alloc_context(buffer, bufferSize, 0, &state_->memory, TMemorySource::Read,
                                                  nullptr, TMemorySource::Seek)
                             : nullptr;
    if (!io) {
        av_free(buffer);
        problem_ = "Out of memory";
        return;
    }
    state_->io.reset(io);
    Open("", "none", countedBytes);
}

TKVMediaFile::~TKVMediaFile() = default;

void TKVMediaFile::Open(const std::string& url, const char* protocols, int64_t countedBytes) {
    QuietFFmpegLog();
    TState& state = *state_;
    AVFormatContext* format = avformat_alloc_context();
    if (!format) {
        problem_ = "Out of memory";
        return;
    }
    state.deadline.Start(OpenTime);
    state.deadline.Attach(*format);
    if (state.io) format->pb = state.io.get();
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", protocols, 0);
    av_dict_set(&options, "format_whitelist", VideoContainers, 0);
    const int opened = avformat_open_input(&format, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (opened < 0) {
        problem_ = "Not a video file";  // avformat_open_input freed the context
        return;
    }
    state.format.reset(format);
    if (!FindStreamInfo(*format)) {
        problem_ = "Damaged video file";
        return;
    }
    const int index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0) {
        problem_ = "No video stream";
        return;
    }
    state.stream = format->streams[index];
    state.decoder.reset(OpenDecoder(*state.stream));
    if (!state.decoder) problem_ = "No decoder for this video";
    else problem_ = PictureSizeProblem(Width(), Height(), 24, -1);
    if (!problem_.empty()) state.decoder.reset();
    else CountFrames(countedBytes);
}

bool TKVMediaFile::IsConnected() const { return state_->decoder != nullptr; }

int64_t TKVMediaFile::Duration() const { return IsConnected() ? state_->duration : 0; }

int64_t TKVMediaFile::DeclaredDuration() const {
    const AVStream& stream = *state_->stream;
    if (stream.duration > 0) return av_rescale_q(stream.duration, stream.time_base, HundredNanoseconds);
    const int64_t duration = state_->format->duration;
    return duration > 0 ? av_rescale_q(duration, AV_TIME_BASE_Q, HundredNanoseconds) : 0;
}

TKVMediaFile::TPacketCount TKVMediaFile::CountPackets(int64_t countedBytes) {
    TState& state = *state_;
    AVFormatContext& format = *state.format;
    const AVStream& stream = *state.stream;
    TPacketCount count;
    std::unique_ptr<AVPacket, TFFmpegPacketCloser> packet(av_packet_alloc());
    if (!packet) return count;
    state.deadline.Start(GrabTime);
    avformat_seek_file(&format, -1, INT64_MIN, INT64_MIN, INT64_MIN, 0);
    while (!state.deadline.Expired() && count.frames < MostCountedFrames &&
           (!format.pb || avio_tell(format.pb) <= countedBytes)) {
        const int read = av_read_frame(&format, packet.get());
        if (read < 0) {
            // A damaged tail ends the video where reading it stops, as for any player.
            count.wholeFile = !state.deadline.Expired();
            break;
        }
        if (packet->stream_index == stream.index) {
            ++count.frames;
            const int64_t time = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            if (time != AV_NOPTS_VALUE) count.end = std::max(count.end, Add(time, std::max<int64_t>(packet->duration, 0)));
            if (packet->pts != AV_NOPTS_VALUE) count.times.push_back(packet->pts);
        }
        av_packet_unref(packet.get());
    }
    return count;
}

// Short files are counted frame by frame, which is exact whatever the container declares; of a
// long file only the first part is read, and the rest is estimated.
void TKVMediaFile::CountFrames(int64_t countedBytes) {
    TState& state = *state_;
    const AVStream& stream = *state.stream;
    TPacketCount count = CountPackets(countedBytes);
    const int64_t declared = DeclaredDuration();
    const int64_t counted =
        count.end == AV_NOPTS_VALUE ? 0 : av_rescale_q(Add(count.end, -StartOf(stream)), stream.time_base, HundredNanoseconds);
    state.duration = std::max(declared, counted);
    if (count.wholeFile) {
        state.frameCount = count.frames;
        // A stream without timestamps lasts as long as its frames at its rate.
        if (counted <= 0) state.duration = std::max(declared, Multiply(count.frames, AvgTimePerFrame()));
        state.countedFromStart = count.frames > 1 && count.times.size() <= 1;
        if (int64_t(count.times.size()) == count.frames) {
            std::sort(count.times.begin(), count.times.end());
            state.frameTimes = std::move(count.times);
        }
    } else if (IndexCountsEveryFrame(*state.format) && stream.nb_frames > 0) {
        state.frameCount = stream.nb_frames;
    } else if (counted > 0) {
        state.frameCount = std::max(count.frames, av_rescale(count.frames, state.duration, counted));
    } else {
        const int64_t frameTime = AvgTimePerFrame();
        state.frameCount = std::max(count.frames, frameTime > 0 ? state.duration / frameTime : 0);
    }
}

int64_t TKVMediaFile::IndexedFrameCount() const { return IsConnected() ? std::max<int64_t>(state_->stream->nb_frames, 0) : 0; }

int64_t TKVMediaFile::FrameCount() const { return IsConnected() ? state_->frameCount : 0; }

int64_t TKVMediaFile::AvgTimePerFrame() const { return IsConnected() ? AvgTimePerFrameOf(*state_->stream) : 0; }

int TKVMediaFile::Width() const { return state_->stream ? state_->stream->codecpar->width : 0; }
int TKVMediaFile::Height() const { return state_->stream ? state_->stream->codecpar->height : 0; }

// A frame counts as shown at a time when it begins no later than half a frame after it.
bool TKVMediaFile::GetFrameAt(int64_t time, TKVBitmap& bitmap) {
    if (!IsConnected()) return false;
    const AVStream& stream = *state_->stream;
    const int64_t target = Add(StartOf(stream), av_rescale_q(time, HundredNanoseconds, stream.time_base));
    return GetFrameShownAt(target, av_rescale_q(AvgTimePerFrame(), HundredNanoseconds, stream.time_base) / 2, bitmap);
}

// Frames whose timestamps were all counted are found by their own, whatever their rate; those of
// a stream without timestamps by their place from its start; others at the index's multiple of
// the frame time.
bool TKVMediaFile::GetFrame(int64_t index, TKVBitmap& bitmap) {
    if (!IsConnected() || index < 0 || index >= state_->frameCount) return false;
    if (!state_->frameTimes.empty()) return GetFrameShownAt(state_->frameTimes[size_t(index)], 0, bitmap);
    if (state_->countedFromStart) return GetFrameCounted(index, bitmap);
    const int64_t frameTime = AvgTimePerFrame() > 0 ? AvgTimePerFrame() : Duration() / state_->frameCount;
    return GetFrameAt(Multiply(index, frameTime), bitmap);
}

bool TKVMediaFile::GetFrameShownAt(int64_t target, int64_t early, TKVBitmap& bitmap) {
    state_->deadline.Start(GrabTime);
    TBgrFrame grabbed;
    try {
        // An inexact index may seek past the frame, or to where nothing decodes: then from the start.
        if (Grab(target, target, early, false, grabbed) != TGrab::Found &&
            Grab(FileStart, target, early, true, grabbed) != TGrab::Found)
            return false;
    } catch (const Exception&) {
        return false;
    }
    CopyToBitmap(grabbed, bitmap);
    return true;
}

// Frames read one after the other go on from the last one; any other restarts from the first.
bool TKVMediaFile::GetFrameCounted(int64_t index, TKVBitmap& bitmap) {
    TState& state = *state_;
    state.deadline.Start(GrabTime);
    if (state.framesDecoded < 0 || index < state.framesDecoded) {
        avformat_seek_file(state.format.get(), -1, INT64_MIN, INT64_MIN, INT64_MIN, 0);
        avcodec_flush_buffers(state.decoder.get());
        state.framesDecoded = 0;
    }
    std::unique_ptr<AVPacket, TFFmpegPacketCloser> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, TFFmpegFrameCloser> frame(av_frame_alloc());
    bool draining = false;
    while (packet && frame && !state.deadline.Expired()) {
        const int received = avcodec_receive_frame(state.decoder.get(), frame.get());
        if (received == 0) {
            if (state.framesDecoded++ < index) continue;
            TBgrFrame grabbed;
            try {
                state.converter.Convert(*frame, grabbed);
            } catch (const Exception&) {
                break;
            }
            CopyToBitmap(grabbed, bitmap);
            return true;
        }
        if (received != AVERROR(EAGAIN) || draining) break;
        if (av_read_frame(state.format.get(), packet.get()) < 0) {
            draining = true;
            avcodec_send_packet(state.decoder.get(), nullptr);
        } else {
            if (packet->stream_index == state.stream->index) avcodec_send_packet(state.decoder.get(), packet.get());
            av_packet_unref(packet.get());
        }
    }
    state.framesDecoded = -1;
    return false;
}

TKVMediaFile::TGrab TKVMediaFile::Grab(int64_t from, int64_t target, int64_t early, bool lateAllowed,
                                       TBgrFrame& grabbed) {
    TState& state = *state_;
    const AVStream& stream = *state.stream;
    const int64_t frameTicks = av_rescale_q(AvgTimePerFrame(), HundredNanoseconds, stream.time_base);
    std::unique_ptr<AVPacket, TFFmpegPacketCloser> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, TFFmpegFrameCloser> frame(av_frame_alloc());
    if (!packet || !frame) return TGrab::Nothing;
    // A search by time for the stream's first timestamp may land a key frame later in containers
    // without an index (MPEG streams that start late): the start is the earliest point there is.
    if (from == FileStart) avformat_seek_file(state.format.get(), -1, INT64_MIN, INT64_MIN, INT64_MIN, 0);
    else if (av_seek_frame(state.format.get(), stream.index, from, AVSEEK_FLAG_BACKWARD) < 0)
        avformat_seek_file(state.format.get(), stream.index, INT64_MIN, from, from, 0);
    avcodec_flush_buffers(state.decoder.get());
    state.framesDecoded = -1;
    grabbed.rows.clear();
    int64_t lastShown = AV_NOPTS_VALUE;  // the last timestamp decoded,
    int64_t framesAfterLastShown = 0;     // and the frames without one that followed it
    bool draining = false;
    while (!state.deadline.Expired()) {
        const int received = avcodec_receive_frame(state.decoder.get(), frame.get());
        if (received == 0) {
            int64_t shown = frame->best_effort_timestamp;
            if (shown != AV_NOPTS_VALUE) {
                lastShown = shown;
                framesAfterLastShown = 0;
            } else if (lastShown != AV_NOPTS_VALUE) {
                // A frame without a timestamp follows the last one that had one.
                shown = Add(lastShown, Multiply(++framesAfterLastShown, frameTicks));
            }
            const bool known = shown != AV_NOPTS_VALUE;
            if (!lateAllowed && grabbed.rows.empty() && known && shown > Add(target, early)) return TGrab::Late;
            state.converter.Convert(*frame, grabbed);
            if (!known || Add(shown, early) >= target) return TGrab::Found;
        } else if (received == AVERROR_EOF || (received == AVERROR(EAGAIN) && draining)) {
            // Past the last frame: the last one decoded stands.
            return grabbed.rows.empty() ? TGrab::Nothing : TGrab::Found;
        } else if (received != AVERROR(EAGAIN)) {
            return TGrab::Nothing;
        } else if (av_read_frame(state.format.get(), packet.get()) < 0) {
            draining = true;
            avcodec_send_packet(state.decoder.get(), nullptr);
        } else {
            if (packet->stream_index == stream.index) avcodec_send_packet(state.decoder.get(), packet.get());
            av_packet_unref(packet.get());
        }
    }
    return TGrab::Nothing;
}
