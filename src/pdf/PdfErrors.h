#pragma once
// The writer's messages; an error's text is the message, ": " and the parameter when one is given.
#include <string>

#include "platform/Exception.h"

inline constexpr const char* SInvalidColor = "Invalid color specification";
inline constexpr const char* SInvalidLink = "Invalid link definition";
inline constexpr const char* SInvalidMethodCall = "Invalid method call";
inline constexpr const char* SInvalidPropertyValue = "Invalid property value";
inline constexpr const char* SInvalidStyleName = "Invalid style name";
inline constexpr const char* SInvalidSystemCall = "Invalid Windows function call";
inline constexpr const char* SCircularStyle = "Circular reference in style sheet";
inline constexpr const char* SInternalError = "Internal error";
inline constexpr const char* SUndefinedDestination = "Link destination name not defined";
inline constexpr const char* SNotTrueType = "This font is not TrueType";
inline constexpr const char* SNumericStyleValue = "Numeric value expected for style parameter";
inline constexpr const char* SCantModifyWhenOpened = "Can't modify property when opened";
inline constexpr const char* SRadioGroupOrder = "Radio groups must be defined after their radio buttons";
inline constexpr const char* SWriteError = "File write error, or disk full";
inline constexpr const char* SAlreadyOpen = "PDF document already open";
inline constexpr const char* SBadBookmarkLevel = "Bad bookmark level";
inline constexpr const char* SImageNotSupported = "Image format or compression scheme not supported";
inline constexpr const char* SInvalidValue = "Invalid value for property";
inline constexpr const char* SCharsetNotSupported = "Font character set not supported";
inline constexpr const char* SCantOpenFile = "Can't open file";
inline constexpr const char* SNotOpened = "Document not opened";
inline constexpr const char* SFieldAlreadyPut = "Field already put on form";
inline constexpr const char* SNulInExportName = "Export name holds a NUL character";
inline constexpr const char* SDuplicateName = "Duplicate name";
inline constexpr const char* SFileLocked = "File locked";
inline constexpr const char* SFileNotFound = "File not found";
inline constexpr const char* SCantStoreImage = "Can't store image";
inline constexpr const char* SCantInvokeWhenPrinting = "Can't invoke this method when printing";

inline std::string PdfMessage(const std::string& message, const std::string& parameter) {
    return parameter.empty() ? message : message + ": " + parameter;
}

// An error of the writer; the component abandons the open document before it reaches the caller.
class EPdfError : public Exception {
public:
    explicit EPdfError(const std::string& message, const std::string& parameter = {})
        : Exception(PdfMessage(message, parameter)) {}
};
