#include "imaging/io/KVPdfOutput.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVEncoders.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVDriverSupport.h"
#include "imaging/io/KVJpegFilter.h"
#include "imaging/io/KVLzw.h"
#include "platform/Classes.h"
#include "platform/PdfString.h"

namespace {

std::string NumberText(double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

// --- The object model: each object writes its own PDF text.

class TKVPDFObject {
public:
    virtual ~TKVPDFObject() = default;
    virtual void Write(std::string& out) const = 0;
    int number = 0;  // position in the document's object list, from 1; 0 for a direct object
};
using TObjectPtr = std::unique_ptr<TKVPDFObject>;

class TKVPDFRefObject : public TKVPDFObject {
public:
    explicit TKVPDFRefObject(int target) : target_(target) {}
    void Write(std::string& out) const override { out += std::to_string(target_) + " 0 R"; }

private:
    int target_;
};

class TKVPDFNumericObject : public TKVPDFObject {
public:
    explicit TKVPDFNumericObject(double value) : value_(value) {}
    void Write(std::string& out) const override { out += NumberText(value_); }

private:
    double value_;
};

class TKVPDFBooleanObject : public TKVPDFObject {
public:
    explicit TKVPDFBooleanObject(bool value) : value_(value) {}
    void Write(std::string& out) const override { out += value_ ? "true" : "false"; }

private:
    bool value_;
};

class TKVPDFStringObject : public TKVPDFObject {
public:
    explicit TKVPDFStringObject(std::string text) : text_(std::move(text)) {}
    void Write(std::string& out) const override { AppendPdfLiteralString(out, text_); }

private:
    std::string text_;
};

class TKVPDFNameObject : public TKVPDFObject {
public:
    explicit TKVPDFNameObject(std::string name) : name_(std::move(name)) {}
    void Write(std::string& out) const override {
        out += '/';
        for (const char c : name_) {
            const auto byte = uint8_t(c);
            if (byte <= 32 || byte > 126) {
                char hex[4];
                std::snprintf(hex, sizeof hex, "#%02X", byte);
                out += hex;
            } else {
                out += c;
            }
        }
    }

private:
    std::string name_;
};

class TKVPDFArrayObject : public TKVPDFObject {
public:
    void Add(TObjectPtr item) { items_.push_back(std::move(item)); }
    void Write(std::string& out) const override {
        out += '[';
        for (const TObjectPtr& item : items_) {
            item->Write(out);
            out += ' ';
        }
        out += ']';
    }

private:
    std::vector<TObjectPtr> items_;
};

class TKVPDFDictionaryObject : public TKVPDFObject {
public:
    // Replaces the value of an existing key in place, else appends.
    void Set(const std::string& key, TObjectPtr value) {
        for (auto& entry : entries_)
            if (entry.first == key) {
                entry.second = std::move(value);
                return;
            }
        entries_.emplace_back(key, std::move(value));
    }
    void Prepend(const std::string& key, TObjectPtr value) { entries_.insert(entries_.begin(), {key, std::move(value)}); }
    TKVPDFObject* Get(const std::string& key) const {
        for (const auto& entry : entries_)
            if (entry.first == key) return entry.second.get();
        return nullptr;
    }
    void Write(std::string& out) const override {
        out += "<< ";
        for (const auto& [key, value] : entries_) {
            out += '/' + key + ' ';
            value->Write(out);
            out += '\n';
        }
        out += ">>";
    }

private:
    std::vector<std::pair<std::string, TObjectPtr>> entries_;
};

class TKVPDFStreamObject : public TKVPDFObject {
public:
    explicit TKVPDFStreamObject(std::vector<uint8_t> data) : data_(std::move(data)) {
        dictionary.Set("Length", std::make_unique<TKVPDFNumericObject>(double(data_.size())));
    }
    void Write(std::string& out) const override {
        dictionary.Write(out);
        out += "\nstream\n";
        out.append(data_.begin(), data_.end());
        out += "\nendstream";
    }
    TKVPDFDictionaryObject dictionary;

private:
    std::vector<uint8_t> data_;
};

TObjectPtr Name(const std::string& name) { return std::make_unique<TKVPDFNameObject>(name); }
TObjectPtr Number(double value) { return std::make_unique<TKVPDFNumericObject>(value); }
TObjectPtr Boolean(bool value) { return std::make_unique<TKVPDFBooleanObject>(value); }
TObjectPtr Ref(const TKVPDFObject& target) { return std::make_unique<TKVPDFRefObject>(target.number); }

// --- Image data

std::vector<uint8_t> PackedRows(TKVBitmap& bitmap, TKVProgressRec& progress) {
    const int64_t rowBytes = (int64_t(bitmap.GetWidth()) + 7) / 8;
    std::vector<uint8_t> data;
    data.reserve(size_t(rowBytes * bitmap.GetHeight()));
    TKVAccessScope reading(bitmap, kvaRead);
    for (int y = 0; y < bitmap.GetHeight() && !progress.Aborted(); ++y) {
        const uint8_t* row = bitmap.GetScanline(y);
        data.insert(data.end(), row, row + rowBytes);
        progress.Report(y);
    }
    return data;
}

std::vector<uint8_t> RgbRow(TKVBitmap& bitmap, int y) {
    TKVAccessScope reading(bitmap, kvaRead);
    const uint8_t* row = bitmap.GetScanline(y);
    std::vector<uint8_t> rgb(size_t(bitmap.GetWidth()) * 3);
    for (size_t x = 0; x < size_t(bitmap.GetWidth()); ++x) {
        rgb[3 * x] = row[3 * x + 2];
        rgb[3 * x + 1] = row[3 * x + 1];
        rgb[3 * x + 2] = row[3 * x];
    }
    return rgb;
}

// The record's LZW hook, or the built-in coder when none is installed.
std::vector<uint8_t> LzwRows(TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress) {
    const TKVTIFFLZWCompressor compress = params.TiffLZWCompressor ? params.TiffLZWCompressor : TIFFLZWEncode;
    const bool oneBit = bitmap.GetPixelFormat() == kv1Bit;
    TMemoryStream out;
    TKVTIFFLZWEncodeState* state = nullptr;
    for (int y = 0; y < bitmap.GetHeight() && !progress.Aborted(); ++y) {
        std::vector<uint8_t> row;
        if (oneBit) {
            TKVAccessScope reading(bitmap, kvaRead);
            const uint8_t* bits = bitmap.GetScanline(y);
            row.assign(bits, bits + (bitmap.GetWidth() + 7) / 8);
        } else {
            row = RgbRow(bitmap, y);
        }
        compress(row.data(), int64_t(row.size()), out, state);
        progress.Report(y);
    }
    compress(nullptr, 0, out, state);
    return out.Bytes();
}

std::unique_ptr<TKVPDFStreamObject> OneBitImage(TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress) {
    std::unique_ptr<TKVPDFStreamObject> image;
    switch (params.PdfCompression) {
        case 0: image = std::make_unique<TKVPDFStreamObject>(PackedRows(bitmap, progress)); break;
        case 1: {
            const std::vector<uint8_t> packed = PackedRows(bitmap, progress);
            std::vector<uint8_t> coded;
            KVRunLengthEncode(packed.data(), int64_t(packed.size()), coded);
            image = std::make_unique<TKVPDFStreamObject>(std::move(coded));
            auto filters = std::make_unique<TKVPDFArrayObject>();
            filters->Add(Name("RunLengthDecode"));
            image->dictionary.Set("Filter", std::move(filters));
            break;
        }
        case 5:
            image = std::make_unique<TKVPDFStreamObject>(LzwRows(bitmap, params, progress));
            image->dictionary.Set("Filter", Name("LZWDecode"));
            break;
        default: {
            // 4 is coded as 3.
            const bool groupFour = params.PdfCompression == 2;
            image = std::make_unique<TKVPDFStreamObject>(FaxCodedRows(bitmap, groupFour, progress));
            image->dictionary.Set("Filter", Name("CCITTFaxDecode"));
            auto decodeParms = std::make_unique<TKVPDFDictionaryObject>();
            decodeParms->Set("K", Number(groupFour ? -1 : 1));
            decodeParms->Set("BlackIs1", Boolean(true));
            decodeParms->Set("Columns", Number(bitmap.GetWidth()));
            decodeParms->Set("Rows", Number(bitmap.GetHeight()));
            decodeParms->Set("EndOfLine", Boolean(false));
            decodeParms->Set("Uncompressed", Boolean(true));
            decodeParms->Set("EncodedByteAlign", Boolean(false));
            decodeParms->Set("EndOfBlock", Boolean(false));
            image->dictionary.Set("DecodeParms", std::move(decodeParms));
            break;
        }
    }
    image->dictionary.Set("ColorSpace", Name("DeviceGray"));
    image->dictionary.Set("BitsPerComponent", Number(1));
    return image;
}

std::unique_ptr<TKVPDFStreamObject> ColourImage(TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress) {
    std::unique_ptr<TKVPDFStreamObject> image;
    if (params.PdfCompression == 5) {
        image = std::make_unique<TKVPDFStreamObject>(LzwRows(bitmap, params, progress));
        image->dictionary.Set("Filter", Name("LZWDecode"));
    } else if (params.PdfCompression == 4) {
        TMemoryStream jpeg;
        WriteJPEGStream(jpeg, bitmap, params, progress);
        image = std::make_unique<TKVPDFStreamObject>(jpeg.Bytes());
        image->dictionary.Set("Filter", Name("DCTDecode"));
    } else {
        std::vector<uint8_t> data;
        for (int y = 0; y < bitmap.GetHeight() && !progress.Aborted(); ++y) {
            const std::vector<uint8_t> row = RgbRow(bitmap, y);
            data.insert(data.end(), row.begin(), row.end());
            progress.Report(y);
        }
        image = std::make_unique<TKVPDFStreamObject>(std::move(data));
    }
    image->dictionary.Set("ColorSpace", Name("DeviceRGB"));
    image->dictionary.Set("BitsPerComponent", Number(8));
    return image;
}

std::string LocalDateTime(const char* format) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    return std::string(text, std::strftime(text, sizeof text, format, &local));
}

}  // namespace

class TKVPDFDocument {
public:
    TKVPDFDocument() {
        auto catalog = std::make_unique<TKVPDFDictionaryObject>();
        catalog->Set("Type", Name("Catalog"));
        catalog_ = Add(std::move(catalog));
        auto resources = std::make_unique<TKVPDFDictionaryObject>();
        auto procSet = std::make_unique<TKVPDFArrayObject>();
        procSet->Add(Name("PDF"));
        procSet->Add(Name("ImageB"));
        resources->Set("ProcSet", std::move(procSet));
        resources->Set("XObject", std::make_unique<TKVPDFDictionaryObject>());
        resources_ = Add(std::move(resources));
    }

    template <typename T> T* Add(std::unique_ptr<T> object) {
        T* added = object.get();
        objects_.push_back(std::move(object));
        added->number = int(objects_.size());
        return added;
    }

    void AddPage(TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress) {
        const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
        const bool oneBit = bitmap.GetPixelFormat() == kv1Bit;
        params.BitsPerSample = oneBit ? 1 : 8;
        params.SamplesPerPixel = oneBit ? 1 : 3;
        StartProgress(progress, height);
        std::unique_ptr<TKVPDFStreamObject> image =
            oneBit ? OneBitImage(bitmap, params, progress) : ColourImage(bitmap, params, progress);
        if (progress.Aborted()) return;
        image->dictionary.Prepend("Subtype", Name("Image"));
        image->dictionary.Prepend("Type", Name("XObject"));
        image->dictionary.Set("Width", Number(width));
        image->dictionary.Set("Height", Number(height));
        const TKVPDFObject* imageObject = Add(std::move(image));
        const std::string imageName = "lm" + std::to_string(++images_);

        const double paperWidth = params.PdfPaperWidth, paperHeight = params.PdfPaperHeight;
        const double scale = std::min(paperHeight / height, paperWidth / width);
        const int shownWidth = std::max(1, int(std::trunc(width * scale)));
        const int shownHeight = std::max(1, int(std::trunc(height * scale)));
        const std::string content = "q\n" + std::to_string(shownWidth) + " 0 0 " + std::to_string(shownHeight) + " 0 " +
                                    NumberText(paperHeight - shownHeight) + " cm\n/" + imageName + " Do\nQ";
        const TKVPDFObject* contentObject = Add(std::make_unique<TKVPDFStreamObject>(std::vector<uint8_t>(content.begin(), content.end())));
        static_cast<TKVPDFDictionaryObject*>(resources_->Get("XObject"))->Set(imageName, Ref(*imageObject));

        auto page = std::make_unique<TKVPDFDictionaryObject>();
        page->Set("Type", Name("Page"));
        page->Set("Resources", Ref(*resources_));
        auto mediaBox = std::make_unique<TKVPDFArrayObject>();
        for (double v : {0.0, 0.0, paperWidth, paperHeight}) mediaBox->Add(Number(v));
        page->Set("MediaBox", std::move(mediaBox));
        page->Set("Contents", Ref(*contentObject));
        pages_.push_back(Add(std::move(page)));
    }

    void Finish(TStream& stream, TIOParamsVals& params) {
        auto tree = std::make_unique<TKVPDFDictionaryObject>();
        tree->Set("Type", Name("Pages"));
        auto kids = std::make_unique<TKVPDFArrayObject>();
        for (const TKVPDFDictionaryObject* page : pages_) kids->Add(Ref(*page));
        tree->Set("Kids", std::move(kids));
        tree->Set("Count", Number(double(pages_.size())));
        const TKVPDFObject* treeObject = Add(std::move(tree));
        for (TKVPDFDictionaryObject* page : pages_) page->Set("Parent", Ref(*treeObject));
        catalog_->Set("Pages", Ref(*treeObject));

        auto info = std::make_unique<TKVPDFDictionaryObject>();
        const std::pair<const char*, const std::string*> texts[] = {
            {"Title", &params.PdfTitle},     {"Author", &params.PdfAuthor},   {"Subject", &params.PdfSubject},
            {"Keywords", &params.PdfKeywords}, {"Creator", &params.PdfCreator}, {"Producer", &params.PdfProducer}};
        for (const auto& [key, text] : texts)
            if (!text->empty()) info->Set(key, std::make_unique<TKVPDFStringObject>(*text));
        info->Set("CreationDate", std::make_unique<TKVPDFStringObject>("D:" + LocalDateTime("%Y%m%d%H%M%S")));
        const TKVPDFObject* infoObject = Add(std::move(info));
        const std::string file = FileText(stream.Position(), infoObject->number);
        stream.WriteBuffer(file.data(), int64_t(file.size()));
    }

private:
    std::string FileText(int64_t start, int infoNumber) const {
        std::string out = "%PDF-1.4\n\xC8\xD2\xF0\xFE\n";
        std::vector<int64_t> offsets;
        for (const TObjectPtr& object : objects_) {
            offsets.push_back(start + int64_t(out.size()));
            out += std::to_string(object->number) + " 0 obj\n";
            object->Write(out);
            out += "\nendobj\n";
        }
        const int64_t xref = start + int64_t(out.size());
        out += "xref\n0 " + std::to_string(objects_.size() + 1) + "\n0000000000 65535 f \n";
        for (const int64_t offset : offsets) {
            char entry[32];
            std::snprintf(entry, sizeof entry, "%010lld 00000 n \n", static_cast<long long>(offset));
            out += entry;
        }
        out += "trailer\n<< /Size " + std::to_string(objects_.size() + 1) + "\n/Root 1 0 R\n/Info " +
               std::to_string(infoNumber) + " 0 R\n>>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
        return out;
    }

    std::vector<TObjectPtr> objects_;
    std::vector<TKVPDFDictionaryObject*> pages_;
    TKVPDFDictionaryObject* catalog_ = nullptr;
    TKVPDFDictionaryObject* resources_ = nullptr;
    int images_ = 0;
};

void TKVPDFDocumentDeleter::operator()(TKVPDFDocument* document) const { delete document; }

TKVPDFDocumentPtr CreatePDFDocument() { return TKVPDFDocumentPtr(new TKVPDFDocument); }

void AddPDFImagePage(TKVPDFDocument& document, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress) {
    RunDriver(progress, [&] {
        if (bitmap.IsEmpty()) throw EInvalidGraphic("no picture to write");
        if (bitmap.GetPixelFormat() == kv1Bit || bitmap.GetPixelFormat() == kv24RGB) {
            document.AddPage(bitmap, params, progress);
            return;
        }
        TKVBitmap copy;
        copy.Assign(&bitmap);
        copy.ConvertPixelFormat(kv24RGB);
        document.AddPage(copy, params, progress);
    });
}

void FinishPDFDocument(TKVPDFDocument& document, TStream& stream, TIOParamsVals& params) { document.Finish(stream, params); }

void WritePDFStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress) {
    TKVPDFDocumentPtr document = CreatePDFDocument();
    AddPDFImagePage(*document, bitmap, params, progress);
    if (progress.Aborted()) return;
    RunDriver(progress, [&] { FinishPDFDocument(*document, stream, params); });
}
