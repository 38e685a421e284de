#include "FileFormatList.h"

#include <algorithm>
#include <array>

#include "AutodeskGraphic.h"
#include "CUTGraphic.h"
#include "EPSGraphic.h"
#include "GIFGraphic.h"
#include "PCDGraphic.h"
#include "PCXGraphic.h"
#include "PNGGraphic.h"
#include "PPMGraphic.h"
#include "PSDGraphic.h"
#include "PSPGraphic.h"
#include "PicFormatGraphic.h"
#include "RLAGraphic.h"
#include "SGIGraphic.h"
#include "TIFFGraphic.h"
#include "TargaGraphic.h"
#include "platform/ByteReader.h"
#include "platform/GraphicClasses.h"
#include "platform/Icon.h"
#include "platform/Jpeg.h"
#include "platform/JpegLayout.h"

namespace {

template <class T>
std::unique_ptr<TGraphic> Make() { return std::make_unique<T>(); }

// The metafile class lives with the drawing engine; it is found through the class library's own
// picture registry, where the GUI installs it.
std::unique_ptr<TGraphic> MakeMetafile() {
    const TGraphicClass make = GraphicClassForExtension("wmf");
    if (!make) throw EInvalidGraphic("Metafiles cannot be read without the drawing engine.");
    return make();
}

// The class library's own formats carry signatures too; testing them keeps a JPEG, BMP, icon or
// metafile readable under a wrong or missing extension.
std::array<uint8_t, 44> Head(TStream& stream, int64_t& size) {
    std::array<uint8_t, 44> head{};
    size = TPicFormatGraphic::PeekBytes(stream, head);
    return head;
}

bool IsBitmapStream(TStream& stream) {
    int64_t size;
    const auto h = Head(stream, size);
    return size >= 2 && h[0] == 'B' && h[1] == 'M';
}

bool IsIconStream(TStream& stream) {
    int64_t size;
    const auto h = Head(stream, size);
    const TByteReader head(h.data(), size);
    return size >= 6 && head.U16LEAt(0) == 0 && head.U16LEAt(2) == 1 && head.U16LEAt(4) != 0;
}

bool IsMetafileStream(TStream& stream) {
    int64_t size;
    const auto h = Head(stream, size);
    const TByteReader head(h.data(), size);
    if (size >= 44 && head.U32LEAt(0) == 1 && head.U32LEAt(40) == 0x464D4520) return true;  // " EMF"
    // A Windows metafile's header follows the placeable header when there is one.
    const int64_t at = size >= 4 && head.U32LEAt(0) == 0x9AC6CDD7 ? 22 : 0;
    return size >= at + 18 && head.U16LEAt(at) == 1 && head.U16LEAt(at + 2) == 9 && head.U16LEAt(at + 16) == 0;
}

bool IsJPEGStream(TStream& stream) {
    int64_t size;
    const auto h = Head(stream, size);
    return StartsJpeg(std::span(h).first(size_t(std::max<int64_t>(size, 0))));
}

char FoldAsciiLetter(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool SameExtension(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return FoldAsciiLetter(x) == FoldAsciiLetter(y); });
}

}  // namespace

TGraphicClassRef BitmapClass() {
    static const TGraphicClassInfo info{"TBitmap", &Make<TBitmap>, &IsBitmapStream};
    return &info;
}
TGraphicClassRef IconClass() {
    static const TGraphicClassInfo info{"TIcon", &Make<TIcon>, &IsIconStream};
    return &info;
}
TGraphicClassRef MetafileClass() {
    static const TGraphicClassInfo info{"TMetafile", &MakeMetafile, &IsMetafileStream};
    return &info;
}
TGraphicClassRef JPEGImageClass() {
    static const TGraphicClassInfo info{"TJPEGImage", &Make<TJPEGImage>, &IsJPEGStream};
    return &info;
}

void TFileFormatList::Clear() {
    std::lock_guard guard(lock_);
    classes_.clear();
    extensions_.clear();
}

int TFileFormatList::IndexOfExtension(const std::string& extension) const {
    std::lock_guard guard(lock_);
    return IndexOfExtensionLocked(extension);
}

int TFileFormatList::IndexOfExtensionLocked(const std::string& extension) const {
    if (extension.empty()) return -1;
    for (size_t i = 0; i < extensions_.size(); ++i)
        if (SameExtension(extensions_[i]->Extension, extension)) return int(i);
    return -1;
}

int TFileFormatList::IndexOfClass(TGraphicClassRef graphicClass) const {
    std::lock_guard guard(lock_);
    return IndexOfClassLocked(graphicClass);
}

int TFileFormatList::IndexOfClassLocked(TGraphicClassRef graphicClass) const {
    for (size_t i = 0; i < classes_.size(); ++i)
        if (classes_[i]->GraphicClass == graphicClass) return int(i);
    return -1;
}

TGraphicClassRef TFileFormatList::ClassForExtension(const std::string& extension) const {
    const size_t dot = extension.find('.');
    const std::string bare = dot == std::string::npos ? extension : extension.substr(dot + 1);
    std::lock_guard guard(lock_);
    const int index = IndexOfExtensionLocked(bare);
    return index < 0 ? nullptr : extensions_[size_t(index)]->ClassEntry->GraphicClass;
}

TGraphicClassRef TFileFormatList::ClassForFileContent(const std::string& fileName) const {
    TFileStream stream(fileName, fmOpenRead);
    return ClassForStreamContent(stream);
}

TGraphicClassRef TFileFormatList::ClassForStreamContent(TStream& stream) const {
    // Every class with a content test takes part, the class library's own first.
    std::vector<TGraphicClassRef> candidates;
    {
        std::lock_guard guard(lock_);
        for (const auto& entry : classes_)
            if (entry->GraphicClass->IsFormatStream) candidates.push_back(entry->GraphicClass);
    }
    for (TGraphicClassRef candidate : candidates)
        if (candidate->IsFormatStream(stream)) return candidate;
    return nullptr;
}

TFileFormatList::TClassEntry* TFileFormatList::AttachClass(TGraphicClassRef graphicClass,
                                                           const std::string& commonDescription) {
    const int index = IndexOfClassLocked(graphicClass);
    TClassEntry* entry;
    if (index >= 0) {
        entry = classes_[size_t(index)].get();
    } else {
        classes_.push_back(std::make_unique<TClassEntry>(TClassEntry{graphicClass, {}, 0}));
        entry = classes_.back().get();
    }
    if (!commonDescription.empty()) entry->Description = commonDescription;
    ++entry->Count;
    return entry;
}

void TFileFormatList::DropClassEntry(TClassEntry* entry) {
    std::erase_if(classes_, [entry](const auto& owned) { return owned.get() == entry; });
}

void TFileFormatList::AddFormat(const std::string& extension, const std::string& commonDescription,
                                const std::string& individualDescription, TFormatKinds kinds, bool replace,
                                TGraphicClassRef graphicClass) {
    if (extension.empty()) return;
    std::lock_guard guard(lock_);
    const int index = IndexOfExtensionLocked(extension);
    if (index < 0) {
        TClassEntry* entry = AttachClass(graphicClass, commonDescription);
        extensions_.push_back(std::make_unique<TExtensionSlot>(TExtensionSlot{extension, individualDescription, kinds, entry}));
        return;
    }
    if (!replace) throw EInvalidGraphic("Attempt to register " + extension + " twice.");
    TExtensionSlot& slot = *extensions_[size_t(index)];
    TClassEntry* old = slot.ClassEntry;
    if (old->GraphicClass == graphicClass) return;
    slot.ClassEntry = AttachClass(graphicClass, commonDescription);
    if (--old->Count == 0) DropClassEntry(old);
}

void TFileFormatList::RemoveFormat(const std::string& extension, TGraphicClassRef graphicClass) {
    std::lock_guard guard(lock_);
    if (!extension.empty()) {
        const int index = IndexOfExtensionLocked(extension);
        if (index < 0) return;
        TClassEntry* entry = extensions_[size_t(index)]->ClassEntry;
        if (--entry->Count == 0) DropClassEntry(entry);
        extensions_.erase(extensions_.begin() + index);
        return;
    }
    const int classIndex = IndexOfClassLocked(graphicClass);
    if (classIndex < 0) throw EListError("List index out of bounds (-1)");
    TClassEntry* entry = classes_[size_t(classIndex)].get();
    for (size_t i = extensions_.size(); i-- > 0 && entry->Count > 0;) {
        if (extensions_[i]->ClassEntry != entry) continue;
        extensions_.erase(extensions_.begin() + std::ptrdiff_t(i));
        --entry->Count;
    }
    DropClassEntry(entry);
}

std::vector<TFileFormatList::TClassEntry> TFileFormatList::Classes() const {
    std::lock_guard guard(lock_);
    std::vector<TClassEntry> copies;
    for (const auto& entry : classes_) copies.push_back(*entry);
    return copies;
}

std::vector<TFileFormatList::TExtensionEntry> TFileFormatList::Extensions() const {
    std::lock_guard guard(lock_);
    std::vector<TExtensionEntry> copies;
    for (const auto& slot : extensions_)
        copies.push_back({slot->Extension, slot->Description, slot->Kinds, slot->ClassEntry->GraphicClass});
    return copies;
}

namespace {

void AddKnownFormats(TFileFormatList& list) {
    const TFormatKinds R = fkRaster, V = fkVector, MR = fkMultiImage | fkRaster, LR = fkLayered | fkRaster,
                       AMR = fkAnimated | fkMultiImage | fkRaster, RV = fkRaster | fkVector;
    const TGraphicClassRef targa = ExtendedGraphicClass<TTargaGraphic>("TTargaGraphic");
    const TGraphicClassRef tiff = ExtendedGraphicClass<TTIFFGraphic>("TTIFFGraphic");
    const TGraphicClassRef pcx = ExtendedGraphicClass<TPCXGraphic>("TPCXGraphic");
    const TGraphicClassRef rla = ExtendedGraphicClass<TRLAGraphic>("TRLAGraphic");
    const TGraphicClassRef sgi = ExtendedGraphicClass<TSGIGraphic>("TSGIGraphic");
    const TGraphicClassRef psd = ExtendedGraphicClass<TPSDGraphic>("TPSDGraphic");
    const TGraphicClassRef ppm = ExtendedGraphicClass<TPPMGraphic>("TPPMGraphic");
    const TGraphicClassRef autodesk = ExtendedGraphicClass<TAutodeskGraphic>("TAutodeskGraphic");
    const struct {
        const char* extension;
        TGraphicClassRef graphicClass;
        const char* common;
        const char* individual;
        TFormatKinds kinds;
    } rows[] = {
        {"bmp", BitmapClass(), "Windows bitmaps", "", R},
        {"ico", IconClass(), "Windows icons", "", R},
        {"wmf", MetafileClass(), "Windows metafiles", "", V},
        {"emf", MetafileClass(), "Windows metafiles", "Windows enhanced meta files", V},
        {"jfif", JPEGImageClass(), "JPG images", "JFIF images", R},
        {"jpg", JPEGImageClass(), "", "JPG images", R},
        {"jpe", JPEGImageClass(), "", "JPE images", R},
        {"jpeg", JPEGImageClass(), "", "JPEG images", R},
        {"rle", BitmapClass(), "Windows bitmaps", "Run length encoded Windows bitmaps", R},
        {"dib", BitmapClass(), "", "Device independant Windows bitmaps", R},
        {"win", targa, "Truevision images", "", R},
        {"vst", targa, "", "", R},
        {"vda", targa, "", "", R},
        {"tga", targa, "", "", R},
        {"icb", targa, "", "", R},
        {"tiff", tiff, "Tagged image file format images", "Macintosh TIFF images", MR},
        {"tif", tiff, "", "PC TIF images", MR},
        {"fax", tiff, "", "GFI fax images", MR},
        {"eps", ExtendedGraphicClass<TEPSGraphic>("TEPSGraphic"), "Encapsulated Postscript images", "", R},
        {"pcx", pcx, "ZSoft Paintbrush images", "", R},
        {"pcc", pcx, "", "", R},
        {"scr", pcx, "", "Word 5.x screen capture images", R},
        {"rpf", rla, "Alias/Wavefront images", "", R},
        {"rla", rla, "", "", R},
        {"sgi", sgi, "SGI images", "SGI true color images", R},
        {"rgba", sgi, "", "SGI true color images with alpha", R},
        {"rgb", sgi, "", "SGI true color images", R},
        {"bw", sgi, "", "SGI black/white images", R},
        {"psd", psd, "Photoshop images", "", LR},
        {"pdd", psd, "", "", LR},
        {"ppm", ppm, "Portable map images", "Portable pixel map images", R},
        {"pgm", ppm, "", "Portable gray map images", R},
        {"pbm", ppm, "", "Portable bitmap images", R},
        {"cel", autodesk, "Autodesk images", "", R},
        {"pic", autodesk, "Autodesk images", "", R},
        {"pcd", ExtendedGraphicClass<TPCDGraphic>("TPCDGraphic"), "Kodak Photo-CD images", "", R},
        {"gif", ExtendedGraphicClass<TGIFGraphic>("TGIFGraphic"), "CompuServe images", "", AMR},
        {"cut", ExtendedGraphicClass<TCUTGraphic>("TCUTGraphic"), "Dr. Halo images", "", R},
        {"psp", ExtendedGraphicClass<TPSPGraphic>("TPSPGraphic"), "Paintshop Pro images", "", RV},
        {"png", ExtendedGraphicClass<TPNGGraphic>("TPNGGraphic"), "Portable network graphic images", "", R},
    };
    for (const auto& row : rows) list.AddFormat(row.extension, row.common, row.individual, row.kinds, false, row.graphicClass);
}

}  // namespace

TFileFormatList& RegisteredFormats() {
    static TFileFormatList* const formats = [] {
        auto* list = new TFileFormatList;  // lives for the whole run
        AddKnownFormats(*list);
        return list;
    }();
    return *formats;
}

void DoneTzPicFormats() {
    static std::once_flag done;
    std::call_once(done, [] {
        TFileFormatList& list = RegisteredFormats();
        for (TGraphicClassRef graphicClass :
             {ExtendedGraphicClass<TPSPGraphic>("TPSPGraphic"), ExtendedGraphicClass<TPSDGraphic>("TPSDGraphic"),
              ExtendedGraphicClass<TTargaGraphic>("TTargaGraphic"), ExtendedGraphicClass<TTIFFGraphic>("TTIFFGraphic"),
              ExtendedGraphicClass<TEPSGraphic>("TEPSGraphic"), ExtendedGraphicClass<TSGIGraphic>("TSGIGraphic"),
              ExtendedGraphicClass<TPCXGraphic>("TPCXGraphic"), ExtendedGraphicClass<TAutodeskGraphic>("TAutodeskGraphic"),
              ExtendedGraphicClass<TPCDGraphic>("TPCDGraphic"), ExtendedGraphicClass<TPPMGraphic>("TPPMGraphic"),
              ExtendedGraphicClass<TCUTGraphic>("TCUTGraphic"), ExtendedGraphicClass<TGIFGraphic>("TGIFGraphic"),
              ExtendedGraphicClass<TRLAGraphic>("TRLAGraphic")})
            list.RemoveFormat("", graphicClass);
        list.RemoveFormat("rle", BitmapClass());
        list.RemoveFormat("dib", BitmapClass());
        list.RemoveFormat("", ExtendedGraphicClass<TPNGGraphic>("TPNGGraphic"));
    });
}

std::unique_ptr<TGraphic> CreateGraphicFromFile(const std::string& fileName) {
    TGraphicClassRef graphicClass = RegisteredFormats().ClassForFileContent(fileName);
    if (!graphicClass) {
        const std::string name = fileName.substr(fileName.find_last_of('/') + 1);
        const size_t dot = name.find_last_of('.');
        if (dot != std::string::npos) graphicClass = RegisteredFormats().ClassForExtension(name.substr(dot));
    }
    if (!graphicClass) return nullptr;
    std::unique_ptr<TGraphic> graphic = graphicClass->Create();
    graphic->LoadFromFile(fileName);
    return graphic;
}
