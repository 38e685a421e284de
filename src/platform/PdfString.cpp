#include "PdfString.h"

void AppendPdfLiteralString(std::string& out, std::string_view bytes) {
    out += '(';
    for (const char c : bytes) {
        switch (c) {
            case '\b': out += "\\b"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\f': out += "\\f"; break;
            case '\r': out += "\\r"; break;
            case '(':
            case ')':
            case '\\':
                out += '\\';
                out += c;
                break;
            default: out += c;
        }
    }
    out += ')';
}
