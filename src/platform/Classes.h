#pragma once
// The class library's root object, streams and string list.
#include <cstdint>
#include <string>
#include <vector>

#include "Exception.h"

class TObject {
public:
    virtual ~TObject() = default;
};

// What a component is told of another it refers to: that it was added, or is going.
enum TOperation { opInsert, opRemove };

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream : public TObject {
public:
    // Reads up to count bytes; returns how many were read (0 at the end).
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    // Writes up to count bytes; returns how many were written.
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    // Returns the new position.
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
    virtual int64_t Size();
    virtual void SetSize(int64_t size) = 0;

    int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
    void SetPosition(int64_t position) { Seek(position, TSeekOrigin::soBeginning); }
    // Read or write exactly count bytes, else EReadError / EWriteError.
    void ReadBuffer(void* buffer, int64_t count);
    void WriteBuffer(const void* buffer, int64_t count);
    // Copies count bytes from source's position; count 0 copies the whole source from its start.
    int64_t CopyFrom(TStream& source, int64_t count);
};

// File open modes, combined with |.
enum : unsigned {
    fmOpenRead = 0x0000,
    fmOpenWrite = 0x0001,
    fmOpenReadWrite = 0x0002,
    fmCreate = 0xFF00,
};

class TFileStream : public TStream {
public:
    TFileStream(const std::string& fileName, unsigned mode);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    void SetSize(int64_t size) override;
    // Flushes written data to the disk; raises EWriteError on failure.
    void Sync();
    const std::string& FileName() const { return fileName_; }

private:
    std::string fileName_;
    int fd_ = -1;
};

class TMemoryStream : public TStream {
public:
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return static_cast<int64_t>(data_.size()); }
    void SetSize(int64_t size) override;

    uint8_t* Memory() { return data_.data(); }
    const std::vector<uint8_t>& Bytes() const { return data_; }
    void Clear();
    void LoadFromStream(TStream& source);
    void LoadFromFile(const std::string& fileName);
    void SaveToStream(TStream& target);
    void SaveToFile(const std::string& fileName);

private:
    std::vector<uint8_t> data_;
    int64_t position_ = 0;
};

enum class TDuplicates { dupIgnore, dupAccept, dupError };

// Strings with an object each; optionally sorted. Letter case is ignored unless CaseSensitive.
class TStringList : public TObject {
public:
    int Count() const { return static_cast<int>(items_.size()); }
    const std::string& Strings(int index) const;
    void SetStrings(int index, const std::string& s);
    TObject* Objects(int index) const;
    void SetObjects(int index, TObject* object);

    // Returns the index of the new item, or of the existing one when a duplicate is ignored.
    int Add(const std::string& s) { return AddObject(s, nullptr); }
    int AddObject(const std::string& s, TObject* object);
    void Insert(int index, const std::string& s);
    void InsertObject(int index, const std::string& s, TObject* object);
    void Delete(int index);
    void Clear() { items_.clear(); }
    int IndexOf(const std::string& s) const;
    int IndexOfObject(const TObject* object) const;
    // In a sorted list: true when s is present; index receives where it is or would be.
    bool Find(const std::string& s, int& index) const;
    void Sort();

    bool Sorted() const { return sorted_; }
    void SetSorted(bool sorted);
    TDuplicates Duplicates() const { return duplicates_; }
    void SetDuplicates(TDuplicates d) { duplicates_ = d; }
    bool CaseSensitive() const { return caseSensitive_; }
    void SetCaseSensitive(bool caseSensitive);

    // Lines joined with "\r\n" (each line ends with one); setting splits at CR LF, LF or CR.
    std::string Text() const;
    void SetText(const std::string& text);
    // The part after "=" of the first "name=value" line whose name matches.
    std::string Values(const std::string& name) const;
    void SetValues(const std::string& name, const std::string& value);
    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName) const;

    int CompareStrings(const std::string& a, const std::string& b) const;

private:
    struct Item {
        std::string text;
        TObject* object;
    };
    void CheckIndex(int index) const;
    std::vector<Item> items_;
    bool sorted_ = false;
    bool caseSensitive_ = false;
    TDuplicates duplicates_ = TDuplicates::dupIgnore;
};
