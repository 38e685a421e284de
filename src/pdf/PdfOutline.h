#pragma once
// The outline tree (bookmarks) and named destinations of a document, written at its end.
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TPdfOutput;

// Encodes UTF-8 text as a PDF string of the given object.
using TPdfStringEncoder = std::function<std::string(const std::string& text, int objectNumber)>;

class TBookmark {
public:
    TBookmark() = default;  // the root: no title, no destination
    TBookmark(TBookmark* parent, std::string title, std::string destination, int page, bool open);

    // The last entry at the level (1 = child of the root), or null when the tree is not that deep.
    TBookmark* LastAtLevel(int level);
    TBookmark& AddChild(std::string title, std::string destination, int page, bool open);
    bool HasChildren() const { return !children_.empty(); }
    // The descendants shown when this entry is open: each child, and the descendants of the open ones.
    int Count() const;

    // Takes the next object numbers for the tree, in pre-order.
    void Number(TPdfOutput& output);
    // Writes the numbered tree in pre-order; pageObjects[p - 1] is the object of page p.
    void Write(TPdfOutput& output, const std::vector<int>& pageObjects, const TPdfStringEncoder& encode) const;
    int ObjectNumber() const { return objectNumber_; }

private:
    TBookmark* parent_ = nullptr;
    std::vector<std::unique_ptr<TBookmark>> children_;
    int objectNumber_ = 0;
    int page_ = 0;
    bool open_ = false;
    std::string destination_;
    std::string title_;
};

// A named destination: a page and the place on it ("/XYZ left top null", in points).
struct TName {
    std::string Name;
    int Page = 0;
    std::string Destination;
    int ObjectNumber = 0;
};
