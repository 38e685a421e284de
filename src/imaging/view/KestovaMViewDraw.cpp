// The thumbnail view's drawing: the back buffer, and each cell with its picture, captions,
// bevels, borders and selection frame.
#include <QFontMetrics>
#include <QPainter>
#include <mutex>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVCoreUtils.h"
#include "imaging/core/KVLibraryState.h"
#include "imaging/core/KVResample.h"
#include "imaging/core/KVVirtualImageList.h"
#include "imaging/proc/KVBlur.h"
#include "imaging/view/KVThumbLoader.h"
#include "imaging/view/KVThumbPixels.h"
#include "imaging/view/KestovaMView.h"

namespace {

constexpr TColor Grey = 0x808080, White = 0xFFFFFF, Black = 0x000000;

// A rectangle of the drawing API, right and bottom excluded, outlined with the current pen.
void Outline(QPainter& painter, int left, int top, int right, int bottom, int rounding) {
    const QRect rect(left, top, right - left - 1, bottom - top - 1);
    if (rounding > 0)
        painter.drawRoundedRect(rect, rounding / 2.0, rounding / 2.0);
    else
        painter.drawRect(rect);
}

// Top and left edges in the first colour, bottom and right in the second; corners inclusive.
void Bevel(QPainter& painter, int left, int top, int right, int bottom, TColor first, TColor second) {
    painter.setPen(KVToQColor(first));
    painter.drawLine(left, top, right, top);
    painter.drawLine(left, top, left, bottom);
    painter.setPen(KVToQColor(second));
    painter.drawLine(left, bottom, right, bottom);
    painter.drawLine(right, top, right, bottom);
}

void FillBand(QPainter& painter, int left, int top, int right, int bottom, TColor color) {
    if (right > left && bottom > top) painter.fillRect(left, top, right - left, bottom - top, KVToQColor(color));
}

}  // namespace

bool TKestovaMView::EntrySelected(int index) const {
    const bool listed = index == selected_ || (enableMultiSelect_ && IsSelected(index));
    return listed && visibleSelection_ && displayMode_ == mdGrid;
}

void TKestovaMView::paintEvent(QPaintEvent*) {
    if (viewport()->width() <= 0 || viewport()->height() <= 0) return;
    if (paintLock_ > 0) {
        // A running transition holds the lock and shows its frames instead.
        if (!transitionFrame_.isNull()) QPainter(viewport()).drawImage(0, 0, transitionFrame_);
        return;
    }
    // A failing repaint must never take the program down.
    try {
        if (backBuffer_.size() != viewport()->size()) backBuffer_ = QImage(viewport()->size(), QImage::Format_RGB32);
        PaintToBackBuffer(backBuffer_);
        QPainter(viewport()).drawImage(0, 0, backBuffer_);
    } catch (const std::exception&) {
    }
}

QImage TKestovaMView::Render() {
    if (backBuffer_.size() != viewport()->size()) backBuffer_ = QImage(viewport()->size(), QImage::Format_RGB32);
    if (!backBuffer_.isNull()) PaintToBackBuffer(backBuffer_);
    return backBuffer_;
}

// The host's events run outside the library's lock, so that they may stop the loads or clear the
// list; a pass whose list an event changed starts again.
void TKestovaMView::PaintToBackBuffer(QImage& buffer) {
    KVDrawBackground(buffer, background_, buffer.rect());
    if (arrived_.exchange(false)) ApplyArrivals();
    // A pass that starts again tells what the last whole pass found.
    const bool before = allDisplayed_;
    for (bool again = true; again;) {
        again = false;
        const uint64_t listState = listChanges_;
        const auto changed = [&] { return again = listChanges_ != listState; };
        const int count = GetImageCount();
        const int n = displayMode_ == mdSingle && count > 0 ? 1 : count;
        int first = 0;
        if (playing_ || displayMode_ == mdSingle) {
            frameIndex_ = std::max(std::min(frameIndex_, count - 1), 0);
            first = frameIndex_;
        }
        bool prior = before;
        allDisplayed_ = true;
        int firstVisible = -1, lastVisible = count - 1;
        for (int k = 0; k < n; ++k) {
            const int index = (first + k) % count;
            if (OnDrawProgress && n > 1) {
                OnDrawProgress(k * 100 / n, index);
                if (changed()) break;
            }
            if (!IsEntryVisible(index)) {
                if (firstVisible >= 0 && lastVisible == count - 1) lastVisible = index - 1;
                continue;
            }
            if (firstVisible < 0) firstVisible = index;
            TKVMEntry& entry = *entries_[size_t(index)];
            if (!HasPicture(index) && !HasCachedDrawing(index)) {
                prior = false;
                if (index == selected_ || threadPoolSize_ == 0 || !QueueLoad(index)) {
                    const bool loaded = LoadImageNow(index);
                    if (changed()) break;
                    if (!loaded && RemoveCorrupted) {
                        DeleteImage(index);
                        again = true;
                        break;
                    }
                }
            }
            if (!HasPicture(index) && !HasCachedDrawing(index)) allDisplayed_ = false;
            DrawEntry(buffer, entry, index, EntrySelected(index));
            if (changed()) break;
        }
        if (again) continue;
        {
            std::lock_guard lock(KVGlobalLock);
            LookAheadAndRelease(firstVisible, lastVisible);
        }
        if (OnDrawProgress && n > 1) {
            OnDrawProgress(100, 0);
            if (changed()) continue;
        }
        if (allDisplayed_ && !prior && OnAllDisplayed) OnAllDisplayed();
    }
}

void TKestovaMView::LookAheadAndRelease(int firstVisible, int lastVisible) {
    const int count = GetImageCount();
    if (LookAhead > 0 && threadPoolSize_ > 0 && lastVisible + 1 < count) {
        std::vector<int> wanted;
        std::vector<uint64_t> serials;
        for (int i = lastVisible + 1; i <= std::min(lastVisible + LookAhead, count - 1); ++i) {
            const TKVMEntry& entry = *entries_[size_t(i)];
            if (entry.Image || entry.Cached) continue;
            wanted.push_back(i);
            serials.push_back(entry.Serial);
        }
        loader_->SetLookAhead(std::move(serials));
        for (int i : wanted) QueueLoad(i);
    }
    if (ReleaseDistance < 0) return;
    const int distance = std::max(LookAhead, ReleaseDistance);
    for (int i = 0; i < count; ++i) {
        TKVMEntry& entry = *entries_[size_t(i)];
        // The selected picture is held while selected.
        if ((i < firstVisible - distance || i > lastVisible + distance) && i != selected_ && IsReloadable(entry))
            DropPicture(entry);
    }
}

// The library's lock is held only while the picture is taken from the stores; a host's event that
// changed the list ends the drawing, since the entry may be gone.
void TKestovaMView::DrawEntry(QImage& buffer, TKVMEntry& entry, int index, bool selected) {
    const uint64_t listState = listChanges_;
    const int upper = upperGap_, bottom = bottomGap_;
    const TKVCellPlace cell = CellOf(index);
    int x0 = cell.x - viewX_, y0 = cell.y - viewY_, cw = thumbWidth_, ch = thumbHeight_;
    if (OnBeforeImageDraw) {
        QPainter canvas(&buffer);
        OnBeforeImageDraw(index, x0, y0, canvas);
        if (listChanges_ != listState) return;
    }
    const bool overlays = !overlaySelected_.isNull() && !overlayOther_.isNull();
    if (overlays) {
        QPainter(&buffer).drawImage(QRect(x0, y0, cw, ch), index == selected_ ? overlaySelected_ : overlayOther_);
        x0 += overlayArea_.left();
        y0 += overlayArea_.top();
        cw = overlayArea_.width();
        ch = overlayArea_.height();
    }
    if (OnBeforeImageDrawEx) {
        QRect thumbRect(0, 0, cw, ch);
        OnBeforeImageDrawEx(index, x0, y0, buffer, thumbRect);
        if (listChanges_ != listState) return;
        x0 += thumbRect.left();
        y0 += thumbRect.top();
        cw = thumbRect.width();
        ch = thumbRect.height();
    }
    QPainter painter(&buffer);
    // The picture's corners and the cell border's are of one radius.
    const int rounding = RoundCorners > 0 ? std::min(cw, ch) / RoundCorners : 0;
    const TKVMText& info = entry.Captions[2];
    const int infoH = ShowCaptions && !info.Caption.empty() ? QFontMetrics(info.Font).height() : 0;
    const int ah = ch - bottom - upper - infoH;
    const bool filled = selected && selectionStyle_ == kvssFilled;
    TColor entryBackground;
    {
        std::lock_guard lock(KVGlobalLock);
        entryBackground = entry.Background;
    }
    const TColor cellColor = filled ? clHighlight : drawImageBackground_ ? entryBackground : thumbsBackground_;
    if (fillThumbnail_ && cw > 0 && ch > 0) {
        TKVBackground cellBackground = background_;
        cellBackground.style = thumbsBackgroundStyle_;
        cellBackground.color = cellColor;
        cellBackground.wallPaper = QImage();
        QImage cellImage(cw, ch, QImage::Format_RGB32);
        KVDrawBackground(cellImage, cellBackground, cellImage.rect());
        painter.drawImage(x0, y0, cellImage);
    }
    QRect placed;
    {
        std::lock_guard lock(KVGlobalLock);
        if (entry.Image && !entry.Cached)
            DrawStoredPicture(painter, entry, cw, ah, x0, y0, upper, rounding, placed);
        else if (entry.Cached)
            DrawCachedPicture(painter, entry, cw, ah, x0, y0, upper, placed);
    }
    if (!placed.isNull()) {
        const int x = placed.left(), y = placed.top(), w = placed.width(), h = placed.height();
        if (internalBorder_) {
            painter.setPen(QPen(KVToQColor(internalBorderColor_), 1));
            painter.setBrush(Qt::NoBrush);
            const TRect& r = entry.DrawnRect;
            Outline(painter, x + r.Left, y + r.Top, x + r.Right, y + r.Bottom, 0);
        }
        if (fillThumbnail_) {
            FillBand(painter, x0, y0, x, y0 + ch, cellColor);
            FillBand(painter, x + w, y0, x0 + cw, y0 + ch, cellColor);
            FillBand(painter, x, y0, x + w, y, cellColor);
            FillBand(painter, x, y + h, x + w, y0 + ch, cellColor);
        }
    }
    int bh = 0;
    if (ShowCaptions) {
        for (const int position : {0, 2, 1}) {
            const TKVMText& caption = entry.Captions[position];
            if (caption.Caption.empty()) continue;
            painter.setFont(caption.Font);
            const QFontMetrics metrics(caption.Font);
            const TColor back = filled ? clHighlight : caption.Background;
            painter.setPen(KVToQColor(filled ? clHighlightText : caption.Color));
            painter.setBackgroundMode(Qt::OpaqueMode);
            painter.setBackground(KVToQColor(back));
            const std::u16string fitted = KVFitCaption(caption.Caption, cw, caption.Truncate, [&](const std::u16string& s) {
                return metrics.horizontalAdvance(QString::fromStdU16String(s));
            });
            const QString text = QString::fromStdU16String(fitted);
            const int tw = metrics.horizontalAdvance(text), th = metrics.height();
            int tx, ty;
            if (position == 0) {
                if (style_ == kvmsFlat) FillBand(painter, x0, y0, x0 + cw, y0 + th, back);
                tx = x0 + (cw - tw) / 2;
                ty = y0;
            } else if (position == 2) {
                if (style_ == kvmsFlat) FillBand(painter, x0, y0 + ch - bottom - infoH, x0 + cw, y0 + ch - bottom, back);
                tx = x0 + (cw - tw) / 2;
                ty = y0 + ch - bottom - infoH;
            } else {
                FillBand(painter, x0, y0 + ch - th - 1, x0 + cw, y0 + ch, back);
                tx = x0 + (cw - (tw + 2)) / 2 + 1;
                ty = y0 + ch - th - 1;
                bh = th + 3;
            }
            painter.drawText(tx, ty + metrics.ascent(), text);
            painter.setBackgroundMode(Qt::TransparentMode);
        }
    }
    if (style_ == kvmsBevel) {
        if (!placed.isNull())
            Bevel(painter, placed.left(), placed.top(), placed.left() + placed.width() - 1,
                  placed.top() + placed.height() - 1, Grey, White);
        if (upper + bottom > 0 || (ShowCaptions && !info.Caption.empty()))
            Bevel(painter, x0, y0, x0 + cw - 1, y0 + ch - bh - 1, White, Black);
        if (ShowCaptions && !entry.Captions[1].Caption.empty())
            Bevel(painter, x0, y0 + ch - bh + 2, x0 + cw - 1, y0 + ch - 1, Grey, White);
    }
    if (OnImageDraw) {
        OnImageDraw(index, x0, y0, painter);
        if (listChanges_ != listState) return;
    }
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(KVToQColor(thumbsBorderColor_), 1));
    for (int i = 1; i <= thumbsBorderWidth_; ++i) Outline(painter, x0 - i, y0 - i, x0 + cw + i, y0 + ch + i, rounding);
    if (selected && selectionStyle_ != kvssFilled && !OnBeforeImageDrawEx && !overlays) {
        painter.setPen(QPen(KVToQColor(selectionColor_), 1));
        const int frames = hasFocus() ? selectionWidth_ : 1;
        for (int i = 1; i <= frames; ++i) Outline(painter, x0 - i, y0 - i, x0 + cw + i, y0 + ch + i, rounding);
    }
}

void TKestovaMView::DrawStoredPicture(QPainter& painter, TKVMEntry& entry, int cw, int ah, int x0, int y0, int upper,
                                      int rounding, QRect& placed) {
    TKVBitmap source;
    store_->LoadEntryToBitmap(entry.Image, source);
    const int w0 = source.GetWidth(), h0 = source.GetHeight();
    if (w0 < 1 || h0 < 1 || cw < 1 || ah < 1) return;
    int w = w0, h = h0;
    if (EnlargeSmallImages || cw < w0 || ah < h0) KVFitSize(w0, h0, cw, ah, w, h);
    auto drawn = std::make_unique<TKVBitmap>();
    if (w == w0 && h == h0) {
        drawn->Assign(&source);
    } else {
        const bool reducing1Bit = source.GetPixelFormat() == kv1Bit && (w < w0 || h < h0);
        drawn->Allocate(w, h, reducing1Bit ? kv24RGB : source.GetPixelFormat());
        KVResampleBitmap(source, *drawn, reducing1Bit ? rfFastLinear : DrawFilter);
    }
    if (rounding > 0) KVRoundCorners(*drawn, rounding, rounding);
    entry.DrawnRect = TRect{0, 0, w, h};
    if (SoftShadow.Enabled) {
        drawn->ConvertPixelFormat(kv24RGB);
        KVSoftShadow(*drawn, SoftShadow.OffsetX, SoftShadow.OffsetY, nullptr, {}, 0x000000, true, SoftShadow.Radius);
        const int sw = drawn->GetWidth(), sh = drawn->GetHeight();
        auto back = std::make_unique<TKVBitmap>();
        back->Allocate(w, h, kv24RGB);
        KVResampleBitmap(*drawn, *back, rfNone);
        drawn = std::move(back);
        const double sx = double(w) / sw, sy = double(h) / sh;
        const int dx = (sw - w) / 2, dy = (sh - h) / 2;
        entry.DrawnRect = TRect{int(dx * sx), int(dy * sy), int((w + dx) * sx) + 1, int((h + dy) * sy) + 1};
    }
    const int x = x0 + std::abs(cw - w) / 2, y = y0 + std::abs(ah - h) / 2 + upper;
    painter.drawImage(x, y, KVBitmapToImage(*drawn, enableAlpha_));
    placed = QRect(x, y, w, h);
    if (!CacheDrawnThumbnails) return;
    entry.Cached = cache_->AddBitmap(*drawn);
    if (entry.Cached) {
        entry.Cached->SourceWidth = entry.Image->SourceWidth;
        entry.Cached->SourceHeight = entry.Image->SourceHeight;
    }
}

void TKestovaMView::DrawCachedPicture(QPainter& painter, TKVMEntry& entry, int cw, int ah, int x0, int y0, int upper,
                                      QRect& placed) {
    TKVBitmap drawn;
    cache_->LoadEntryToBitmap(entry.Cached, drawn);
    const int w = drawn.GetWidth(), h = drawn.GetHeight();
    if (w < 1 || h < 1) return;
    const int x = x0 + std::abs(cw - w) / 2, y = y0 + std::abs(ah - h) / 2 + upper;
    painter.drawImage(x, y, KVBitmapToImage(drawn, true));
    placed = QRect(x, y, w, h);
}
