#include "PdfOutput.h"

#include <cstring>

#include "PdfErrors.h"
#include "platform/Classes.h"

namespace {
constexpr size_t FlushSize = 1 << 16;

// The system's reason, such as a full disk or the file-size limit, when it is known.
[[noreturn]] void RaiseWriteError(const EStreamError& error) {
    throw EPdfError(SWriteError, error.SystemError ? std::strerror(error.SystemError) : "");
}
}  // namespace

void TPdfOutput::Open(TStream* stream) {
    Reset();
    stream_ = stream;
}

void TPdfOutput::Flush() {
    if (buffer_.empty()) return;
    std::string pending;
    pending.swap(buffer_);
    if (!stream_) return;
    try {
        stream_->WriteBuffer(pending.data(), int64_t(pending.size()));
    } catch (const EStreamError& error) {
        RaiseWriteError(error);
    }
}

void TPdfOutput::Reset() {
    stream_ = nullptr;
    position_ = 0;
    buffer_.clear();
    offsets_.clear();
}

void TPdfOutput::WriteBytes(const void* data, size_t size) {
    if (!enabled_) return;
    position_ += int64_t(size);
    if (size < FlushSize) {
        buffer_.append(static_cast<const char*>(data), size);
        if (buffer_.size() >= FlushSize) Flush();
        return;
    }
    // Large blocks (pictures, fonts) go straight to the stream.
    Flush();
    if (!stream_) return;
    try {
        stream_->WriteBuffer(data, int64_t(size));
    } catch (const EStreamError& error) {
        RaiseWriteError(error);
    }
}

void TPdfOutput::WriteLine(std::string_view text) {
    if (!enabled_) return;
    buffer_.append(text);
    buffer_ += '\n';
    position_ += int64_t(text.size()) + 1;
    if (buffer_.size() >= FlushSize) Flush();
}

int TPdfOutput::NewObjectNumber() {
    offsets_.push_back(position_);
    return ObjectCount();
}

int TPdfOutput::BeginObject(std::string_view firstLine) {
    const int n = NewObjectNumber();
    WriteLine(std::to_string(n) + " 0 obj");
    WriteLine(firstLine);
    return n;
}

void TPdfOutput::BeginReservedObject(int n, std::string_view firstLine) {
    offsets_.at(size_t(n) - 1) = position_;
    WriteLine(std::to_string(n) + " 0 obj");
    WriteLine(firstLine);
}

void TPdfOutput::EndDictObject() {
    WriteLine(">>");
    WriteLine("endobj");
}

void TPdfOutput::EndObject(std::string_view lastLine) {
    WriteLine(lastLine);
    WriteLine("endobj");
}

void TPdfOutput::WriteStreamAndEnd(std::string_view data) {
    WriteLine("stream");
    WriteBytes(data.data(), data.size());
    WriteLine("");
    EndObject("endstream");
}

std::string ObjectRef(int n) { return std::to_string(n) + " 0 R"; }
