#include "imaging/acquire/Capture.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <map>
#include <mutex>
#include <thread>

extern "C" {
#include <libavdevice/avdevice.h>
}

#include "imaging/acquire/CaptureFile.h"
#include "imaging/acquire/FFmpegSupport.h"
#include "imaging/acquire/V4L2Formats.h"
#include "platform/Exception.h"

namespace {

constexpr std::chrono::seconds OpenTime(10);

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

}  // namespace

struct TKVCapture::TState {
    TFFmpegDeadline deadline;
    std::unique_ptr<AVFormatContext, TFFmpegFormatCloser> format;
    std::unique_ptr<AVCodecContext, TFFmpegCodecCloser> decoder;
    AVStream* stream = nullptr;
    std::unique_ptr<TCaptureFile> file;  // the worker's while it runs
    std::thread worker;
    std::mutex frameLock;
    TBgrFrame newest;  // guarded by frameLock
    mutable std::mutex problemLock;
    std::string problem;  // guarded by problemLock
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

bool TKVCapture::BuildGraph(const std::string& inputFormat, const std::string& device) {
    Disconnect();
    QuietFFmpegLog();
    static std::once_flag devices;
    std::call_once(devices, avdevice_register_all);
    SetProblem({});
    TState& state = *state_;
    const AVInputFormat* input = av_find_input_format(inputFormat.c_str());
    AVFormatContext* format = avformat_alloc_context();
    if (!input || !format) {
        avformat_free_context(format);
        SetProblem("No capture input " + inputFormat);
        return false;
    }
    state.deadline.Start(OpenTime);
    state.deadline.Attach(*format);
    if (avformat_open_input(&format, device.c_str(), input, nullptr) < 0) {
        SetProblem("Cannot open capture device " + device);
        return false;
    }
    state.format.reset(format);
    const int index = !FindStreamInfo(*format)
                          ? -1
                          : av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index >= 0) {
        state.stream = format->streams[index];
        state.decoder.reset(OpenVideoDecoder(*state.stream));
    }
    if (!state.decoder) {
        SetProblem("No video from capture device " + device);
        state.format.reset();
        state.stream = nullptr;
        return false;
    }
    const AVCodecParameters& open = *state.stream->codecpar;
    TKVVideoFormat only;
    only.FormatName = SubtypeName(open);
    only.BitRate = int32_t(std::clamp<int64_t>(open.bit_rate, 0, INT32_MAX));
    only.MinWidth = only.MaxWidth = open.width;
    only.MinHeight = only.MaxHeight = open.height;
    if (inputFormat == "v4l2") formats_ = ListV4L2DeviceFormats(device);
    // Inputs that cannot list their formats have the one they were opened with.
    if (formats_.empty()) formats_.push_back(only);
    return StartCaptureFile();
}

bool TKVCapture::StartCaptureFile() {
    if (!TCaptureFile::IsCaptureFileName(captureFileName_)) return true;
    const AVStream& stream = *state_->stream;
    const AVRational rate = stream.avg_frame_rate.num > 0 ? stream.avg_frame_rate : stream.r_frame_rate;
    try {
        state_->file = std::make_unique<TCaptureFile>(captureFileName_, videoCompressor_, Width(), Height(), rate);
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
    if (!IsConnected() || state_->worker.joinable()) return;
    state_->deadline.Start(std::chrono::hours(24 * 365));
    state_->worker = std::thread([this, post = post_] { Work(post); });
}

void TKVCapture::Work(const TKVCapturePost& notify) {
    TState& state = *state_;
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
    int read = packet && frame ? 0 : AVERROR(ENOMEM);
    bool failed = false;
    while (!failed && !state.deadline.Expired() && (read = av_read_frame(state.format.get(), packet.get())) >= 0) {
        const bool ours = packet->stream_index == state.stream->index;
        if (ours) avcodec_send_packet(state.decoder.get(), packet.get());
        av_packet_unref(packet.get());
        while (!failed && ours && avcodec_receive_frame(state.decoder.get(), frame.get()) == 0) {
            try {
                if (state.file) state.file->Write(*frame);
            } catch (const Exception& error) {
                SetProblem(error.what());
                failed = true;
                break;
            }
            try {
                converter.Convert(*frame, converted);
            } catch (const Exception&) {
                continue;
            }
            {
                std::lock_guard guard(state.frameLock);
                std::swap(state.newest, converted);
            }
            post(kvcmNewFrame);
        }
    }
    // A source that ends and a capture that is stopped end well; a device that fails does not.
    const bool stopped = state.deadline.Expired();
    if (!failed && !stopped && read != AVERROR_EOF) {
        SetProblem("The capture device failed");
        failed = true;
    }
    EndCaptureFile(!failed);
    if (!stopped) post(kvcmGraphEvent);
}

void TKVCapture::Disconnect() {
    TState& state = *state_;
    state.deadline.Stop();
    if (state.worker.joinable()) state.worker.join();
    EndCaptureFile(true);
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
