#include "PdfOutline.h"

#include "PdfOutput.h"

TBookmark::TBookmark(TBookmark* parent, std::string title, std::string destination, int page, bool open)
    : parent_(parent), page_(page), open_(open), destination_(std::move(destination)), title_(std::move(title)) {}

TBookmark* TBookmark::LastAtLevel(int level) {
    TBookmark* entry = this;
    for (int depth = 0; depth < level; ++depth) {
        if (entry->children_.empty()) return nullptr;
        entry = entry->children_.back().get();
    }
    return entry;
}

TBookmark& TBookmark::AddChild(std::string title, std::string destination, int page, bool open) {
    children_.push_back(std::make_unique<TBookmark>(this, std::move(title), std::move(destination), page, open));
    return *children_.back();
}

int TBookmark::Count() const {
    int count = 0;
    for (const auto& child : children_) count += 1 + (child->open_ ? child->Count() : 0);
    return count;
}

void TBookmark::Number(TPdfOutput& output) {
    objectNumber_ = output.NewObjectNumber();
    for (const auto& child : children_) child->Number(output);
}

void TBookmark::Write(TPdfOutput& output, const std::vector<int>& pageObjects, const TPdfStringEncoder& encode) const {
    output.BeginReservedObject(objectNumber_);
    const int count = Count();
    if (parent_) {
        output.WriteLine("/Title " + encode(title_, objectNumber_));
        output.WriteLine("/Dest[" + ObjectRef(pageObjects.at(size_t(page_) - 1)) + " " + destination_ + "]");
        output.WriteLine("/Parent " + ObjectRef(parent_->objectNumber_));
        const auto& siblings = parent_->children_;
        size_t self = 0;
        while (siblings[self].get() != this) ++self;
        if (self > 0) output.WriteLine("/Prev " + ObjectRef(siblings[self - 1]->objectNumber_));
        if (self + 1 < siblings.size()) output.WriteLine("/Next " + ObjectRef(siblings[self + 1]->objectNumber_));
        output.WriteLine("/Count " + std::to_string(open_ ? count : -count));
    } else if (count > 0) {
        output.WriteLine("/Count " + std::to_string(count));
    }
    if (!children_.empty()) {
        output.WriteLine("/First " + ObjectRef(children_.front()->objectNumber_));
        output.WriteLine("/Last " + ObjectRef(children_.back()->objectNumber_));
    }
    output.EndDictObject();
    for (const auto& child : children_) child->Write(output, pageObjects, encode);
}
