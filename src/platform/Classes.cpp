#include "Classes.h"

#include "Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <strings.h>

int64_t TStream::Size() {
    const int64_t position = Seek(0, TSeekOrigin::soCurrent);
    const int64_t size = Seek(0, TSeekOrigin::soEnd);
    Seek(position, TSeekOrigin::soBeginning);
    return size;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
    if (count > 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
    if (count > 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min<int64_t>(count, 1 << 20)));
    int64_t remaining = count;
    while (remaining > 0) {
        const int64_t n = std::min<int64_t>(remaining, static_cast<int64_t>(buffer.size()));
        source.ReadBuffer(buffer.data(), n);
        WriteBuffer(buffer.data(), n);
        remaining -= n;
    }
    return count;
}

// --- TFileStream

static std::string SystemErrorText() { return std::strerror(errno); }

TFileStream::TFileStream(const std::string& fileName, unsigned mode) : fileName_(fileName) {
    if (mode == fmCreate) {
        fd_ = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd_ < 0)
            throw EFCreateError("Cannot create file \"" + fileName + "\". " + SystemErrorText());
        return;
    }
    int flags = O_RDONLY;
    if ((mode & 3) == fmOpenWrite) flags = O_WRONLY;
    if ((mode & 3) == fmOpenReadWrite) flags = O_RDWR;
    fd_ = ::open(fileName.c_str(), flags | O_CLOEXEC);
    if (fd_ >= 0) {
        struct stat st {};
        if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
            ::close(fd_);
            fd_ = -1;
            errno = EISDIR;
        }
    }
    if (fd_ < 0) throw EFOpenError("Cannot open file \"" + fileName + "\". " + SystemErrorText());
}

TFileStream::~TFileStream() {
    if (fd_ >= 0) ::close(fd_);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
    int64_t done = 0;
    auto* p = static_cast<uint8_t*>(buffer);
    while (done < count) {
        const ssize_t n = ::read(fd_, p + done, static_cast<size_t>(std::min<int64_t>(count - done, 1 << 30)));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw EReadError("Cannot read \"" + fileName_ + "\". " + SystemErrorText());
        if (n == 0) break;
        done += n;
    }
    return done;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
    int64_t done = 0;
    const auto* p = static_cast<const uint8_t*>(buffer);
    while (done < count) {
        const ssize_t n = ::write(fd_, p + done, static_cast<size_t>(std::min<int64_t>(count - done, 1 << 30)));
        if (n < 0 && errno == EINTR) continue;
        // A full disk must say so, not just "write error".
        if (n < 0) throw EWriteError("Cannot write \"" + fileName_ + "\". " + SystemErrorText(), errno);
        if (n == 0) break;
        done += n;
    }
    return done;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
    const int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
                       : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                          : SEEK_END;
    const off_t result = ::lseek(fd_, offset, whence);
    if (result < 0) throw EStreamError("Seek error in \"" + fileName_ + "\". " + SystemErrorText());
    return result;
}

void TFileStream::SetSize(int64_t size) {
    if (::ftruncate(fd_, size) != 0)
        throw EWriteError("Cannot set the size of \"" + fileName_ + "\". " + SystemErrorText());
    if (Position() > size) SetPosition(size);
}

void TFileStream::Sync() {
    if (::fsync(fd_) != 0) throw EWriteError("Cannot write \"" + fileName_ + "\". " + SystemErrorText(), errno);
}

// --- TMemoryStream

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
    const int64_t available = std::max<int64_t>(0, Size() - position_);
    const int64_t n = std::clamp<int64_t>(count, 0, available);
    if (n > 0) std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
    position_ += n;
    return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    if (position_ + count > Size()) data_.resize(static_cast<size_t>(position_ + count));
    std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
    position_ += count;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    const int64_t base = origin == TSeekOrigin::soBeginning ? 0
                         : origin == TSeekOrigin::soCurrent ? position_
                                                            : Size();
    if (base + offset < 0) throw EStreamError("Seek before the start of a memory stream");
    position_ = base + offset;
    return position_;
}

void TMemoryStream::SetSize(int64_t size) {
    data_.resize(static_cast<size_t>(std::max<int64_t>(size, 0)));
    position_ = std::min(position_, Size());
}

void TMemoryStream::Clear() {
    data_.clear();
    data_.shrink_to_fit();
    position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& source) {
    source.SetPosition(0);
    const int64_t size = source.Size();
    std::vector<uint8_t> data(static_cast<size_t>(size));
    source.ReadBuffer(data.data(), size);
    data_ = std::move(data);
    position_ = 0;
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
    TFileStream file(fileName, fmOpenRead);
    LoadFromStream(file);
}

void TMemoryStream::SaveToStream(TStream& target) { target.WriteBuffer(data_.data(), Size()); }

void TMemoryStream::SaveToFile(const std::string& fileName) {
    TAtomicFile file(fileName);
    SaveToStream(file.Stream());
    file.Commit();
}

// --- TStringList

void TStringList::CheckIndex(int index) const {
    if (index < 0 || index >= Count())
        throw EStringListError("List index out of bounds (" + std::to_string(index) + ")");
}

const std::string& TStringList::Strings(int index) const {
    CheckIndex(index);
    return items_[index].text;
}

void TStringList::SetStrings(int index, const std::string& s) {
    if (sorted_) throw EStringListError("Operation not allowed on sorted list");
    CheckIndex(index);
    items_[index].text = s;
}

TObject* TStringList::Objects(int index) const {
    CheckIndex(index);
    return items_[index].object;
}

void TStringList::SetObjects(int index, TObject* object) {
    CheckIndex(index);
    items_[index].object = object;
}

int TStringList::CompareStrings(const std::string& a, const std::string& b) const {
    const int c = caseSensitive_ ? a.compare(b) : ::strcasecmp(a.c_str(), b.c_str());
    return (c > 0) - (c < 0);
}

int TStringList::AddObject(const std::string& s, TObject* object) {
    int index = Count();
    if (sorted_ && Find(s, index)) {
        if (duplicates_ == TDuplicates::dupIgnore) return index;
        if (duplicates_ == TDuplicates::dupError) throw EStringListError("String list does not allow duplicates");
    }
    items_.insert(items_.begin() + index, Item{s, object});
    return index;
}

void TStringList::Insert(int index, const std::string& s) { InsertObject(index, s, nullptr); }

void TStringList::InsertObject(int index, const std::string& s, TObject* object) {
    if (sorted_) throw EStringListError("Operation not allowed on sorted list");
    if (index < 0 || index > Count())
        throw EStringListError("List index out of bounds (" + std::to_string(index) + ")");
    items_.insert(items_.begin() + index, Item{s, object});
}

void TStringList::Delete(int index) {
    CheckIndex(index);
    items_.erase(items_.begin() + index);
}

int TStringList::IndexOf(const std::string& s) const {
    if (int index; sorted_) return Find(s, index) ? index : -1;
    for (int i = 0; i < Count(); ++i)
        if (CompareStrings(items_[i].text, s) == 0) return i;
    return -1;
}

int TStringList::IndexOfObject(const TObject* object) const {
    for (int i = 0; i < Count(); ++i)
        if (items_[i].object == object) return i;
    return -1;
}

bool TStringList::Find(const std::string& s, int& index) const {
    int low = 0, high = Count() - 1;
    bool found = false;
    while (low <= high) {
        const int mid = (low + high) / 2;
        const int c = CompareStrings(items_[mid].text, s);
        if (c < 0) {
            low = mid + 1;
        } else {
            high = mid - 1;
            if (c == 0) {
                found = true;
                if (duplicates_ != TDuplicates::dupAccept) low = mid;
            }
        }
    }
    index = low;
    return found;
}

void TStringList::Sort() {
    std::stable_sort(items_.begin(), items_.end(),
                     [this](const Item& a, const Item& b) { return CompareStrings(a.text, b.text) < 0; });
}

void TStringList::SetSorted(bool sorted) {
    if (sorted && !sorted_) Sort();
    sorted_ = sorted;
}

void TStringList::SetCaseSensitive(bool caseSensitive) {
    caseSensitive_ = caseSensitive;
    if (sorted_) Sort();
}

std::string TStringList::Text() const {
    std::string text;
    for (const Item& item : items_) text += item.text + "\r\n";
    return text;
}

void TStringList::SetText(const std::string& text) {
    Clear();
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            Add(text.substr(start));
            break;
        }
        Add(text.substr(start, end - start));
        start = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
    }
}

std::string TStringList::Values(const std::string& name) const {
    for (const Item& item : items_) {
        const size_t eq = item.text.find('=');
        if (eq != std::string::npos && CompareStrings(item.text.substr(0, eq), name) == 0)
            return item.text.substr(eq + 1);
    }
    return {};
}

void TStringList::SetValues(const std::string& name, const std::string& value) {
    for (int i = 0; i < Count(); ++i) {
        const std::string& text = items_[i].text;
        const size_t eq = text.find('=');
        if (eq != std::string::npos && CompareStrings(text.substr(0, eq), name) == 0) {
            if (value.empty())
                Delete(i);
            else
                items_[i].text = name + "=" + value;
            return;
        }
    }
    if (!value.empty()) Add(name + "=" + value);
}

void TStringList::LoadFromFile(const std::string& fileName) {
    TMemoryStream stream;
    stream.LoadFromFile(fileName);
    SetText(std::string(stream.Bytes().begin(), stream.Bytes().end()));
}

void TStringList::SaveToFile(const std::string& fileName) const {
    TAtomicFile file(fileName);
    const std::string text = Text();
    file.Stream().WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
    file.Commit();
}
