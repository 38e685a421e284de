#include "imaging/acquire/Capture.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "imaging/acquire/AudioOutput.h"
#include "imaging/acquire/CaptureFile.h"
#include "imaging/acquire/FFmpegSupport.h"
#include "imaging/acquire/V4L2Device.h"
#include "imaging/acquire/V4L2Formats.h"
#include "imaging/acquire/V4L2Inputs.h"
#include "platform/Exception.h"

namespace {

constexpr std::chrono::seconds OpenTime(10);
// How long a step or a move waits for its frame.
constexpr std::chrono::seconds ControlTime(10);
constexpr int64_t MediaTimeUnits = 10'000'000;  // per second

std::mutex registryLock;
std::map<TKVCaptureHandle, TKVCapture*> registry;
TKVCaptureHandle lastHandle = 0;

// The names capture drivers give the layouts FFmpeg decodes to.
std::string SubtypeName(const AVCodecParameters& format) {
    if (format.codec_id == AV_CODEC_ID_MJPEG) return "MJPG";
    if (format.codec_id != AV_CODEC_ID_RAWVIDEO) return {};
    switch (format.format) {
        case AV_PIX_FMT_YUYV422: return "YUY2";
        case AV_PIX_FMT_UYVY422: return "UYVY";
        case AV_PIX_FMT_YVYU422: return "YVYU";
        case AV_PIX_FMT_YUV420P: return "IYUV";
        case AV_PIX_FMT_UYYVYY411: return "Y411";
        case AV_PIX_FMT_BGR24: return "RGB24";
        case AV_PIX_FMT_BGR0: return "RGB32";
        case AV_PIX_FMT_BGRA: return "ARGB32";
        case AV_PIX_FMT_RGB565LE: return "RGB565";
        case AV_PIX_FMT_RGB555LE: return "RGB555";
        default: return {};
    }
}

// Opens the input and reads its streams' parameters; nullptr when either fails.
AVFormatContext* OpenInput(const AVInputFormat* input, const std::string& url, TFFmpegDeadline& deadline,
                           AVDictionary** options) {
    AVFormatContext* format = avformat_alloc_context();
    if (!format) return nullptr;
    deadline.Start(OpenTime);
    deadline.Attach(*format);
    if (avformat_open_input(&format, url.c_str(), input, options) < 0) return nullptr;
    if (FindStreamInfo(*format)) return format;
    avformat_close_input(&format);
    return nullptr;
}

// A sound decoder, opened, whose stream declares a usable rate and channels; nullptr otherwise.
AVCodecContext* OpenSoundDecoder(const AVStream& stream) {
    std::unique_ptr<AVCodecContext, TFFmpegCodecCloser> decoder(OpenDecoder(stream));
    if (!decoder || decoder->sample_rate <= 0 || decoder->ch_layout.nb_channels <= 0) return nullptr;
    return decoder.release();
}

// Sends the packet to the decoder, or the end of the stream when null, and hands on every frame
// it gives.
template <typename TUse>
void Decode(AVCodecContext& decoder, const AVPacket* packet, AVFrame& frame, const TUse& use) {
    avcodec_send_packet(&decoder, packet);
    while (avcodec_receive_frame(&decoder, &frame) == 0) use(frame);
}

}  // namespace

struct TKVCapture::TState {
    TFFmpegDeadline deadline, audioDeadline;
    std::unique_ptr<AVFormatContext, TFFmpegFormatCloser> format;
    std::unique_ptr<AVCodecContext, TFFmpegCodecCloser> decoder;
    AVStream* stream = nullptr;
    // The sound device, or none when the sound comes with a video file.
    std::unique_ptr<AVFormatContext, TFFmpegFormatCloser> audioFormat;
    std::unique_ptr<AVCodecContext, TFFmpegCodecCloser> audioDecoder;
    AVStream* audioStream = nullptr;
    // Where a video file's sound goes.
    bool fileAudioToCaptureFile = false;
    std::unique_ptr<TAudioPlayer> player;
    // Seconds of video taken so far; the sound device keeps up with it and stops where it ends.
    std::mutex progressLock;
    std::condition_variable progressed;
    double videoTime = 0;  // guarded by progressLock
    bool videoEnded = false;  // guarded by progressLock
    void Progress(double time, bool ended) {
        {
            std::lock_guard guard(progressLock);
            videoTime = time;
            videoEnded = ended;
        }
        progressed.notify_all();
    }
    std::unique_ptr<TCaptureFile> file;  // the worker's while it runs
    std::thread worker;
    std::mutex frameLock;
    TBgrFrame newest;  // guarded by frameLock
    mutable std::mutex problemLock;
    std::string problem;  // guarded by problemLock
    std::unique_ptr<TV4L2Inputs> inputs;  // of a V4L2 device
    bool seekable = false;               // a video file that can move
    // The worker's turns, all guarded by controlLock.
    mutable std::mutex controlLock;
    std::condition_variable controlChanged;
    TKVCaptureState mode = kvcsStopped;
    int stepsLeft = 0;
    uint64_t stepsDone = 0;
    std::optional<int64_t> seekTo;      // a move asked for, in stream time
    std::optional<int64_t> dropBefore;  // the frames before a move's position go undelivered
    bool cue = false;                   // the next frame is delivered, paused or not
    uint64_t seeksAsked = 0, seeksDone = 0;
    bool workerEnded = false;
    // Wakes the worker and those who wait for it after a change made under the lock.
    void Notify() {
        { std::lock_guard guard(controlLock); }
        controlChanged.notify_all();
    }
};

TKVCapture::TKVCapture() : state_(std::make_unique<TState>()) {
    std::lock_guard guard(registryLock);
    handle_ = ++lastHandle;
    registry[handle_] = this;
}

TKVCapture::~TKVCapture() {
    Disconnect();
    std::lock_guard guard(registryLock);
    registry.erase(handle_);
}

TKVCapture* TKVCapture::FromHandle(TKVCaptureHandle handle) {
    std::lock_guard guard(registryLock);
    const auto found = registry.find(handle);
    return found != registry.end() && found->second->IsConnected() ? found->second : nullptr;
}

void TKVCapture::SetNotify(TKVCapturePost post) { post_ = std::move(post); }

void TKVCapture::SetAudioCapture(const std::string& inputFormat, const std::string& device) {
    audioInputFormat_ = inputFormat;
    audioDevice_ = device;
}

void TKVCapture::SetAudioOutput(std::unique_ptr<TKVAudioOutput> output) { audioOutput_ = std::move(output); }

bool TKVCapture::BuildGraph(const std::string& inputFormat, const std::string& device) {
    Disconnect();
    QuietFFmpegLog();
    RegisterFFmpegDevices();
    SetProblem({});
    if (!OpenVideoSource(inputFormat, device) || !OpenAudioCapture()) {
        Disconnect();
        return false;
    }
    const AVCodecParameters& open = *state_->stream->codecpar;
    TKVVideoFormat only;
    only.FormatName = SubtypeName(open);
    only.BitRate = int32_t(std::clamp<int64_t>(open.bit_rate, 0, INT32_MAX));
    only.MinWidth = only.MaxWidth = open.width;
    only.MinHeight = only.MaxHeight = open.height;
    state_->seekable = inputFormat.empty() && state_->format->pb && (state_->format->pb->seekable & AVIO_SEEKABLE_NORMAL);
    timeFormat_ = kvtfMediaTime;
    // Asking needs no streaming, so a second descriptor beside the demuxer's does.
    if (std::unique_ptr<TV4L2Device> controls = inputFormat == "v4l2" ? OpenV4L2Device(device) : nullptr) {
        formats_ = ListV4L2DeviceFormats(*controls);
        state_->inputs = std::make_unique<TV4L2Inputs>(std::move(controls));
    }
    // Inputs that cannot list their formats have the one they were opened with.
    if (formats_.empty()) formats_.push_back(only);
    return StartCaptureFile();
}

bool TKVCapture::OpenVideoSource(const std::string& inputFormat, const std::string& device) {
    TState& state = *state_;
    const bool file = inputFormat.empty();
    const AVInputFormat* input = file ? nullptr : av_find_input_format(inputFormat.c_str());
    if (!file && !input) {
        SetProblem("No capture input " + inputFormat);
        return false;
    }
    // A video file names no other file or protocol.
    AVDictionary* options = nullptr;
    if (file) av_dict_set(&options, "protocol_whitelist", "file", 0);
    state.format.reset(OpenInput(input, device, state.deadline, &options));
    av_dict_free(&options);
    if (!state.format) {
        SetProblem((file ? "Cannot open the video file " : "Cannot open capture device ") + device);
        return false;
    }
    AVFormatContext& format = *state.format;
    const int index = av_find_best_stream(&format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index >= 0) {
        state.stream = format.streams[index];
        state.decoder.reset(OpenDecoder(*state.stream));
    }
    if (!state.decoder) {
        SetProblem("No video from " + device);
        return false;
    }
    const bool captureFile = TCaptureFile::IsCaptureFileName(captureFileName_);
    state.fileAudioToCaptureFile = file && captureFile && !audioCompressor_.empty() && audioInputFormat_.empty();
    if (!file || !(state.fileAudioToCaptureFile || renderFileAudio_)) return true;
    const int audio = av_find_best_stream(&format, AVMEDIA_TYPE_AUDIO, -1, index, nullptr, 0);
    if (audio >= 0) {
        state.audioStream = format.streams[audio];
        state.audioDecoder.reset(OpenSoundDecoder(*state.audioStream));
    }
    // A file without sound, or with sound that cannot be decoded, still gives its frames.
    if (!state.audioDecoder) {
        state.audioStream = nullptr;
        state.fileAudioToCaptureFile = false;
        return true;
    }
    if (renderFileAudio_) {
        if (!audioOutput_) audioOutput_ = DefaultAudioOutput();
        state.player = std::make_unique<TAudioPlayer>(*audioOutput_);
    }
    return true;
}

bool TKVCapture::OpenAudioCapture() {
    if (audioInputFormat_.empty()) return true;
    TState& state = *state_;
    const AVInputFormat* input = av_find_input_format(audioInputFormat_.c_str());
    if (!input) {
        SetProblem("No capture input " + audioInputFormat_);
        return false;
    }
    state.audioFormat.reset(OpenInput(input, audioDevice_, state.audioDeadline, nullptr));
    const int index = state.audioFormat
                          ? av_find_best_stream(state.audioFormat.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0)
                          : -1;
    if (index >= 0) {
        state.audioStream = state.audioFormat->streams[index];
        state.audioDecoder.reset(OpenSoundDecoder(*state.audioStream));
    }
    if (!state.audioDecoder) {
        SetProblem("No sound from capture device " + audioDevice_);
        return false;
    }
    return true;
}

bool TKVCapture::StartCaptureFile() {
    if (!TCaptureFile::IsCaptureFileName(captureFileName_)) return true;
    TState& state = *state_;
    TCaptureFileStreams streams;
    streams.videoEncoder = videoCompressor_;
    streams.compression = compression_;
    streams.width = Width();
    streams.height = Height();
    streams.rate = state.stream->avg_frame_rate.num > 0 ? state.stream->avg_frame_rate : state.stream->r_frame_rate;
    if (state.audioFormat || state.fileAudioToCaptureFile) {
        streams.audioEncoder = audioCompressor_;
        streams.audioRate = state.audioDecoder->sample_rate;
        streams.audioChannels = state.audioDecoder->ch_layout.nb_channels;
    }
    try {
        state.file = std::make_unique<TCaptureFile>(captureFileName_, streams);
        return true;
    } catch (const Exception& error) {
        SetProblem(error.what());
        Disconnect();
        return false;
    }
}

void TKVCapture::EndCaptureFile(bool endedWell) {
    const std::unique_ptr<TCaptureFile> file = std::move(state_->file);
    if (!file || !endedWell) return;
    try {
        file->Finish();
    } catch (const Exception& error) {
        SetProblem(error.what());
    }
}

std::string TKVCapture::Problem() const {
    std::lock_guard guard(state_->problemLock);
    return state_->problem;
}

void TKVCapture::SetProblem(const std::string& problem) {
    std::lock_guard guard(state_->problemLock);
    state_->problem = problem;
}

void TKVCapture::GetVideoFormat(int& width, int& height, std::string& name) const {
    if (!state_->stream) return;
    width = Width();
    height = Height();
    name = SubtypeName(*state_->stream->codecpar);
}

void TKVCapture::Run() {
    if (!IsConnected()) return;
    if (!state_->worker.joinable()) return StartWorker(kvcsRunning);
    {
        std::lock_guard guard(state_->controlLock);
        state_->mode = kvcsRunning;
    }
    state_->controlChanged.notify_all();
}

void TKVCapture::Pause() {
    if (!IsConnected()) return;
    if (!state_->worker.joinable()) return StartWorker(kvcsPaused);
    std::lock_guard guard(state_->controlLock);
    state_->mode = kvcsPaused;
}

TKVCaptureState TKVCapture::GetState() const {
    std::lock_guard guard(state_->controlLock);
    return state_->mode;
}

void TKVCapture::StartWorker(TKVCaptureState mode) {
    TState& state = *state_;
    state.deadline.Start(std::chrono::hours(24 * 365));
    state.audioDeadline.Start(std::chrono::hours(24 * 365));
    state.Progress(0, false);
    {
        std::lock_guard guard(state.controlLock);
        state.mode = mode;
        state.workerEnded = false;
    }
    // Frames are grabbed for the receiver only while no video compressor takes them.
    const bool grab = videoCompressor_.empty();
    state.worker = std::thread([this, post = post_, grab] { Work(post, grab); });
}

bool TKVCapture::FrameStep(int frames) {
    TState& state = *state_;
    std::unique_lock guard(state.controlLock);
    if (frames < 1 || state.mode == kvcsStopped || state.workerEnded) return false;
    state.mode = kvcsPaused;
    state.stepsLeft = frames;
    const uint64_t before = state.stepsDone;
    state.controlChanged.notify_all();
    state.controlChanged.wait_for(guard, ControlTime, [&] { return state.stepsDone != before || state.workerEnded; });
    const bool stepped = state.stepsDone != before;
    if (!stepped) state.stepsLeft = 0;
    return stepped;
}

void TKVCapture::SetTimeFormat(int format) {
    const int unit = format & 0x7F;
    if (unit == kvtfMediaTime)
        timeFormat_ = kvtfMediaTime;
    else if (unit == kvtfFrame && state_->seekable && AvgTimePerFrameOf(*state_->stream) > 0)
        timeFormat_ = kvtfFrame;
}

int64_t TKVCapture::GetDuration() const {
    const TState& state = *state_;
    if (!state.seekable || !state.stream) return 0;
    const AVStream& stream = *state.stream;
    int64_t media = 0;
    if (state.format->duration > 0)
        media = av_rescale(state.format->duration, MediaTimeUnits, AV_TIME_BASE);
    else if (stream.duration > 0)
        media = av_rescale_q(stream.duration, stream.time_base, {1, int(MediaTimeUnits)});
    if (timeFormat_ == kvtfMediaTime) return media;
    if (stream.nb_frames > 0) return stream.nb_frames;
    const int64_t frameTime = AvgTimePerFrameOf(stream);
    return frameTime > 0 ? (media + frameTime / 2) / frameTime : 0;
}

int64_t TKVCapture::StreamTime(int64_t position) const {
    const AVStream& stream = *state_->stream;
    const int64_t start = stream.start_time != AV_NOPTS_VALUE ? stream.start_time : 0;
    if (timeFormat_ == kvtfMediaTime) return start + av_rescale_q(position, {1, int(MediaTimeUnits)}, stream.time_base);
    const AVRational rate = stream.avg_frame_rate.num > 0 ? stream.avg_frame_rate : stream.r_frame_rate;
    return start + av_rescale_q(position, av_inv_q(rate), stream.time_base);
}

void TKVCapture::SetPosition(int64_t position) {
    TState& state = *state_;
    if (!IsConnected() || !state.seekable) return;
    const int64_t time = StreamTime(position);
    std::unique_lock guard(state.controlLock);
    if (!state.worker.joinable()) {
        // Stopped: nothing reads the file but this thread.
        guard.unlock();
        Seek(time);
        guard.lock();
        state.dropBefore = time;
        return;
    }
    // After the end of the file it goes on from the new position as it was left, paused or running.
    const bool restart = state.workerEnded;
    const TKVCaptureState mode = state.mode;
    if (restart) {
        guard.unlock();
        state.worker.join();
        guard.lock();
    }
    // Asked before a new worker starts, so that its first turn is the move, not the old end.
    state.seekTo = time;
    const uint64_t ticket = ++state.seeksAsked;
    if (restart) {
        guard.unlock();
        StartWorker(mode);
        guard.lock();
    }
    state.controlChanged.notify_all();
    state.controlChanged.wait_for(guard, ControlTime, [&] { return state.seeksDone >= ticket || state.workerEnded; });
}

void TKVCapture::Seek(int64_t time) {
    TState& state = *state_;
    if (av_seek_frame(state.format.get(), state.stream->index, time, AVSEEK_FLAG_BACKWARD) < 0) return;
    avcodec_flush_buffers(state.decoder.get());
    if (state.audioDecoder && !state.audioFormat) avcodec_flush_buffers(state.audioDecoder.get());
}

bool TKVCapture::AwaitTurn() {
    TState& state = *state_;
    std::unique_lock guard(state.controlLock);
    state.controlChanged.wait(guard, [&] {
        return state.deadline.Expired() || state.mode == kvcsRunning || state.stepsLeft > 0 || state.cue ||
               state.seekTo.has_value();
    });
    if (state.seekTo) {
        const int64_t time = *std::exchange(state.seekTo, std::nullopt);
        guard.unlock();
        Seek(time);
        guard.lock();
        state.dropBefore = time;
        state.cue = true;
    }
    return !state.deadline.Expired();
}

void TKVCapture::Work(const TKVCapturePost& notify, bool grab) {
    TState& state = *state_;
    std::thread audioWorker;
    std::atomic<bool> audioFailed = false;
    if (state.audioFormat) audioWorker = std::thread([&] { audioFailed = !WorkAudio(); });
    std::unique_ptr<AVPacket, TFFmpegPacketCloser> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, TFFmpegFrameCloser> frame(av_frame_alloc());
    TBgrConverter converter;
    TBgrFrame converted;
    const auto post = [&](TKVCaptureMessage message) {
        try {
            if (notify) notify(message, handle_);
        } catch (...) {
            // Nothing may escape into the capture thread.
        }
    };
    const AVRational rate = state.stream->avg_frame_rate.num > 0 ? state.stream->avg_frame_rate : state.stream->r_frame_rate;
    const double frameTime = rate.num > 0 && rate.den > 0 ? double(rate.den) / rate.num : 0.04;
    int64_t taken = 0;
    const auto useVideo = [&](const AVFrame& decoded) {
        bool cued, stepped, deliver;
        {
            std::lock_guard guard(state.controlLock);
            const int64_t time = decoded.best_effort_timestamp;
            if (state.dropBefore && time != AV_NOPTS_VALUE && time < *state.dropBefore) return;
            state.dropBefore.reset();
            cued = std::exchange(state.cue, false);
            stepped = state.stepsLeft > 0 && --state.stepsLeft == 0;
            deliver = state.mode == kvcsRunning || cued || stepped;
        }
        if (state.file) state.file->Write(decoded);
        state.Progress(double(++taken) * frameTime, false);
        bool ready = grab;
        try {
            if (grab) converter.Convert(decoded, converted);
        } catch (const Exception&) {
            ready = false;
        }
        if (ready) {
            {
                std::lock_guard guard(state.frameLock);
                std::swap(state.newest, converted);
            }
            if (deliver) post(kvcmNewFrame);
        }
        // Who waits for a step or a move finds its frame in place.
        if (!cued && !stepped) return;
        {
            std::lock_guard guard(state.controlLock);
            if (cued) state.seeksDone = state.seeksAsked;
            if (stepped) ++state.stepsDone;
        }
        state.controlChanged.notify_all();
    };
    const auto useFileAudio = [&](const AVFrame& decoded) {
        if (state.fileAudioToCaptureFile) state.file->WriteAudio(decoded);
        if (state.player) state.player->Play(decoded);
    };
    int read = packet && frame ? 0 : AVERROR(ENOMEM);
    bool failed = false;
    while (!failed && !audioFailed && AwaitTurn() && (read = av_read_frame(state.format.get(), packet.get())) >= 0) {
        try {
            if (packet->stream_index == state.stream->index)
                Decode(*state.decoder, packet.get(), *frame, useVideo);
            else if (!state.audioFormat && state.audioStream && packet->stream_index == state.audioStream->index)
                Decode(*state.audioDecoder, packet.get(), *frame, useFileAudio);
        } catch (const Exception& error) {
            SetProblem(error.what());
            failed = true;
        }
        av_packet_unref(packet.get());
    }
    // A source that ends and a capture that is stopped end well; a device that fails does not.
    const bool stopped = state.deadline.Expired();
    // The sound's failure ends the capture too; its problem is set already.
    if (audioFailed) failed = true;
    try {
        // The decoders' last frames.
        if (!failed && !stopped && read == AVERROR_EOF) {
            Decode(*state.decoder, nullptr, *frame, useVideo);
            if (!state.audioFormat && state.audioStream) Decode(*state.audioDecoder, nullptr, *frame, useFileAudio);
        }
    } catch (const Exception& error) {
        SetProblem(error.what());
        failed = true;
    }
    if (!failed && !stopped && read != AVERROR_EOF) {
        SetProblem("The capture device failed");
        failed = true;
    }
    if (failed) state.audioDeadline.Stop();
    state.Progress(double(taken) * frameTime, true);
    if (audioWorker.joinable()) audioWorker.join();
    EndCaptureFile(!failed && !audioFailed);
    // Nothing more comes for a step or a move. Marked before the end is told, so that a move asked
    // on hearing of the end starts the file again instead of waiting on this ending worker.
    {
        std::lock_guard guard(state.controlLock);
        state.workerEnded = true;
        state.stepsLeft = 0;
        state.cue = false;
        state.seeksDone = state.seeksAsked;
    }
    state.controlChanged.notify_all();
    if (!stopped) post(kvcmGraphEvent);
}

bool TKVCapture::WorkAudio() {
    TState& state = *state_;
    std::unique_ptr<AVPacket, TFFmpegPacketCloser> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, TFFmpegFrameCloser> frame(av_frame_alloc());
    if (!packet || !frame) return false;
    int64_t samples = 0;
    const int rate = std::max(state.audioDecoder->sample_rate, 1);
    const auto write = [&](const AVFrame& decoded) {
        if (state.file) state.file->WriteAudio(decoded);
        samples += decoded.nb_samples;
    };
    // Waits while the sound is ahead of the video; false once the video has ended before it.
    const auto keepUp = [&] {
        std::unique_lock guard(state.progressLock);
        while (double(samples) / rate >= state.videoTime) {
            if (state.videoEnded || state.audioDeadline.Expired()) return false;
            state.progressed.wait_for(guard, std::chrono::milliseconds(20));
        }
        return true;
    };
    int read = 0;
    try {
        while (!state.audioDeadline.Expired() && keepUp() &&
               (read = av_read_frame(state.audioFormat.get(), packet.get())) >= 0) {
            if (packet->stream_index == state.audioStream->index) Decode(*state.audioDecoder, packet.get(), *frame, write);
            av_packet_unref(packet.get());
        }
        if (read == AVERROR_EOF) Decode(*state.audioDecoder, nullptr, *frame, write);
    } catch (const Exception& error) {
        SetProblem(error.what());
        return false;
    }
    if (read < 0 && read != AVERROR_EOF && !state.audioDeadline.Expired()) {
        SetProblem("The audio capture device failed");
        return false;
    }
    return true;
}

void TKVCapture::Disconnect() {
    TState& state = *state_;
    state.deadline.Stop();
    state.audioDeadline.Stop();
    state.Notify();
    if (state.worker.joinable()) state.worker.join();
    {
        std::lock_guard guard(state.controlLock);
        state.mode = kvcsStopped;
        state.stepsLeft = 0;
        state.seekTo.reset();
        state.dropBefore.reset();
        state.cue = false;
        state.workerEnded = false;
    }
    state.inputs.reset();
    state.seekable = false;
    EndCaptureFile(true);
    state.player.reset();
    state.audioDecoder.reset();
    state.audioFormat.reset();
    state.audioStream = nullptr;
    state.fileAudioToCaptureFile = false;
    state.decoder.reset();
    state.format.reset();
    state.stream = nullptr;
    formats_.clear();
}

bool TKVCapture::IsConnected() const { return state_->decoder != nullptr; }

int TKVCapture::Width() const { return state_->stream ? state_->stream->codecpar->width : 0; }
int TKVCapture::Height() const { return state_->stream ? state_->stream->codecpar->height : 0; }

int64_t TKVCapture::GetAvgTimePerFrame() const { return state_->stream ? AvgTimePerFrameOf(*state_->stream) : 0; }

bool TKVCapture::GetSample(TKVBitmap& bitmap) {
    std::lock_guard guard(state_->frameLock);
    if (state_->newest.rows.empty()) return false;
    CopyToBitmap(state_->newest, bitmap);
    return true;
}

bool TKVCapture::HasCrossbar() const { return state_->inputs && state_->inputs->HasCrossbar(); }

std::vector<std::string> TKVCapture::CrossbarInputs() const {
    return state_->inputs ? state_->inputs->CrossbarInputs() : std::vector<std::string>();
}

int TKVCapture::CrossbarInput() const { return state_->inputs ? state_->inputs->CurrentInput() : -1; }

bool TKVCapture::RouteCrossbar(int input) { return state_->inputs && state_->inputs->SelectInput(input); }

bool TKVCapture::HasTuner() const { return state_->inputs && state_->inputs->HasTuner(); }

int64_t TKVCapture::TunerFrequency() const { return state_->inputs ? state_->inputs->Frequency() : 0; }

bool TKVCapture::SetTunerFrequency(int64_t hertz) { return state_->inputs && state_->inputs->SetFrequency(hertz); }
