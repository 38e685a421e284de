#include "imaging/view/KVStartupRegistrations.h"

#include <QBuffer>
#include <QImage>
#include <QMutex>
#include <QPainter>
#include <map>

namespace {

constexpr unsigned FirstFormat = 0xC000;  // registered formats follow the platform's own

struct TRegistrations {
    int users = 0;
    unsigned textMemo = 0, vect = 0;
    std::vector<TKVPresetImage> presets;
};

TRegistrations& Registrations() {
    static TRegistrations registrations;
    return registrations;
}

QMutex& FormatsLock() {
    static QMutex lock;
    return lock;
}

std::map<QString, unsigned>& FormatNumbers() {
    static std::map<QString, unsigned> numbers;
    return numbers;
}

// A preset picture: a soft frame around its rectangle, encoded as PNG.
TKVPresetImage MakePreset(int width, int height, int left, int top, int right, int bottom, QColor colour) {
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(colour, 3));
    painter.setBrush(colour.lighter(170));
    painter.drawRoundedRect(QRectF(1.5, 1.5, width - 3, height - 3), 8, 8);
    painter.setBrush(Qt::white);
    painter.drawRect(QRect(left, top, right - left, bottom - top));
    painter.end();
    QBuffer png;
    png.open(QIODevice::WriteOnly);
    image.save(&png, "PNG");
    TKVPresetImage preset;
    preset.data.assign(png.data().begin(), png.data().end());
    preset.size = static_cast<int64_t>(preset.data.size());
    preset.left = left, preset.top = top, preset.right = right, preset.bottom = bottom;
    return preset;
}

}  // namespace

unsigned RegisterClipboardFormat(const QString& name) {
    const QMutexLocker locker(&FormatsLock());
    auto& numbers = FormatNumbers();
    return numbers.try_emplace(name, FirstFormat + static_cast<unsigned>(numbers.size())).first->second;
}

QString ClipboardMimeType(unsigned format) {
    const QMutexLocker locker(&FormatsLock());
    for (const auto& [name, number] : FormatNumbers())
        if (number == format) return "application/x-kestova;name=\"" + name + "\"";
    return {};
}

void InitializeViewRegistrations() {
    TRegistrations& r = Registrations();
    if (r.users++ > 0) return;
    r.textMemo = RegisterClipboardFormat("KESTOVA TEXTMEMO");
    r.vect = RegisterClipboardFormat("KESTOVA VECT");
    r.presets = {MakePreset(160, 140, 18, 29, 140, 119, QColor(70, 110, 180)),
                 MakePreset(110, 110, 13, 1, 95, 98, QColor(180, 90, 60)),
                 MakePreset(170, 110, 30, 14, 147, 92, QColor(80, 150, 80)),
                 MakePreset(148, 148, 17, 17, 131, 131, QColor(120, 120, 120))};
}

void FinalizeViewRegistrations() {
    TRegistrations& r = Registrations();
    if (r.users == 0 || --r.users > 0) return;
    r.presets.clear();
    r.textMemo = r.vect = 0;
}

unsigned TextMemoClipboardFormat() { return Registrations().textMemo; }
unsigned VectClipboardFormat() { return Registrations().vect; }
const std::vector<TKVPresetImage>& PresetImages() { return Registrations().presets; }
