#pragma once
// The extended library's registry of picture formats: file extensions and file contents mapped to
// graphic classes, and the factory that makes and loads the picture of a file.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Classes.h"
#include "platform/Graphics.h"

// A graphic class: its name, how to make an empty object, and its content test. Compared by
// address: one record per class.
struct TGraphicClassInfo {
    const char* Name;
    std::unique_ptr<TGraphic> (*Create)();
    bool (*IsFormatStream)(TStream& stream);
};
using TGraphicClassRef = const TGraphicClassInfo*;

template <class T>
TGraphicClassRef ExtendedGraphicClass(const char* name) {
    static const TGraphicClassInfo info{name, [] { return std::unique_ptr<TGraphic>(std::make_unique<T>()); },
                                        &T::IsFormatStream};
    return &info;
}

// The class library's own picture classes.
TGraphicClassRef BitmapClass();
TGraphicClassRef IconClass();
TGraphicClassRef MetafileClass();
TGraphicClassRef JPEGImageClass();

enum TFormatKind : uint8_t { fkAnimated = 1, fkLayered = 2, fkMultiImage = 4, fkRaster = 8, fkVector = 16 };
using TFormatKinds = uint8_t;

class TFileFormatList {
public:
    struct TClassEntry {
        TGraphicClassRef GraphicClass;
        std::string Description;
        int32_t Count;
    };
    struct TExtensionEntry {
        std::string Extension;
        std::string Description;
        TFormatKinds Kinds;
        TGraphicClassRef GraphicClass;
    };

    void Clear();
    // Letters A to Z compare without case; -1 for an empty text or no match.
    int IndexOfExtension(const std::string& extension) const;
    // The entry of exactly this class; -1 when absent.
    int IndexOfClass(TGraphicClassRef graphicClass) const;
    // Everything up to the first "." is dropped first: ".TIF" finds tif, "a.b.tif" finds nothing.
    TGraphicClassRef ClassForExtension(const std::string& extension) const;
    // Raises EFOpenError when the file cannot be opened.
    TGraphicClassRef ClassForFileContent(const std::string& fileName) const;
    // The first class, in registration order, whose content test accepts the stream at its position.
    TGraphicClassRef ClassForStreamContent(TStream& stream) const;
    // Raises EInvalidGraphic "Attempt to register %s twice." for a known extension unless replace.
    void AddFormat(const std::string& extension, const std::string& commonDescription,
                   const std::string& individualDescription, TFormatKinds kinds, bool replace,
                   TGraphicClassRef graphicClass);
    // An empty extension removes every extension of the class (which must be registered).
    void RemoveFormat(const std::string& extension, TGraphicClassRef graphicClass);

    // Copies of the entries, in registration order.
    std::vector<TClassEntry> Classes() const;
    std::vector<TExtensionEntry> Extensions() const;

private:
    struct TExtensionSlot {
        std::string Extension;
        std::string Description;
        TFormatKinds Kinds;
        TClassEntry* ClassEntry;
    };

    int IndexOfExtensionLocked(const std::string& extension) const;
    int IndexOfClassLocked(TGraphicClassRef graphicClass) const;
    TClassEntry* AttachClass(TGraphicClassRef graphicClass, const std::string& commonDescription);
    void DropClassEntry(TClassEntry* entry);

    mutable std::mutex lock_;
    std::vector<std::unique_ptr<TClassEntry>> classes_;
    std::vector<std::unique_ptr<TExtensionSlot>> extensions_;
};

// The one registry of the program, filled with the 40 known extensions on first use.
TFileFormatList& RegisteredFormats();

// The library's end: withdraws the extended classes and the "rle" and "dib" bitmap rows, leaving
// the class library's own bitmap, icon, metafile and JPEG rows. Later calls do nothing.
void DoneTzPicFormats();

// The class of a file open in the stream: by its content first, then by the name's extension;
// nullptr when neither is known. Leaves the stream's position where it was.
TGraphicClassRef GraphicClassOfFile(TStream& stream, const std::string& fileName);
// Loads the file into a graphic of that class; nullptr when no class is known. Errors of opening
// and loading the file pass on.
std::unique_ptr<TGraphic> CreateGraphicFromFile(const std::string& fileName);
