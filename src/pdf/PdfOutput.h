#pragma once
// The low layer of the writer: numbered objects written forward in one pass, their offsets
// recorded for the cross-reference table.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TStream;

class TPdfOutput {
public:
    // Starts a document on the stream (nothing when null); numbering starts at 1.
    void Open(TStream* stream);
    // Writes what is buffered; a stream failure raises "File write error, or disk full".
    void Flush();
    // Forgets the stream and every object.
    void Reset();

    // When off, nothing reaches the stream while numbering and offsets go on.
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled) { enabled_ = enabled; }

    int64_t Position() const { return position_; }
    void WriteLine(std::string_view text);
    void WriteBytes(const void* data, size_t size);

    // Reserves the next number at the current position, writing nothing.
    int NewObjectNumber();
    // "n 0 obj" and the first line; returns n.
    int BeginObject(std::string_view firstLine);
    int BeginDictObject() { return BeginObject("<<"); }
    // Writes object n, reserved earlier, here, starting with the first line.
    void BeginReservedObject(int n, std::string_view firstLine = "<<");
    void EndDictObject();
    void EndObject(std::string_view lastLine);
    // "stream", the data (already encrypted), an end of line, "endstream" and "endobj".
    void WriteStreamAndEnd(std::string_view data);
    int ObjectCount() const { return static_cast<int>(offsets_.size()); }
    const std::vector<int64_t>& Offsets() const { return offsets_; }
    // Marks a reserved object that is never written, so its cross-reference entry is free.
    void SetUnused(int n) { offsets_.at(size_t(n) - 1) = -1; }

private:
    TStream* stream_ = nullptr;
    bool enabled_ = true;
    int64_t position_ = 0;
    std::string buffer_;
    std::vector<int64_t> offsets_;
};

// "n 0 R".
std::string ObjectRef(int n);
