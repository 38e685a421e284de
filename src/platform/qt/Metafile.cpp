#include "Metafile.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <algorithm>
#include <memory>

#include "MetafileSvg.h"
#include "QtBitmap.h"
#include "platform/Canvas.h"
#include "platform/GraphicClasses.h"

void TMetafile::LoadFromStream(TStream& stream) {
    const int64_t size = stream.Size() - stream.Position();
    if (size > MaxDataBytes) throw EInvalidGraphic("Metafile of " + std::to_string(size) + " bytes is too large");
    std::vector<uint8_t> data(size_t(std::max<int64_t>(size, 0)));
    stream.ReadBuffer(data.data(), int64_t(data.size()));
    TMetafileSvg converted = MetafileToSvg(data);
    if (!QSvgRenderer(QByteArray::fromStdString(converted.svg)).isValid())
        throw EInvalidGraphic("Metafile is not valid: a drawing that cannot be shown");
    data_ = std::move(data);
    svg_ = std::move(converted.svg);
    width_ = converted.width;
    height_ = converted.height;
    enhanced_ = converted.enhanced;
    Changed();
}

void TMetafile::SaveToStream(TStream& stream) const { stream.WriteBuffer(data_.data(), int64_t(data_.size())); }

void TMetafile::Draw(TCanvas& canvas, const TRect& rect) const {
    // Text in the drawing needs Qt's font database, which aborts the process without the application.
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        throw EInvalidOperation("Drawing a metafile needs the Qt application object");
    // Only the part the canvas shows is rendered, so memory follows the canvas, not the rectangle.
    const TRect clip = canvas.ClipRect();
    const TRect visible = Rect(std::max(rect.Left, clip.Left), std::max(rect.Top, clip.Top),
                               std::min(rect.Right, clip.Right), std::min(rect.Bottom, clip.Bottom));
    if (visible.Width() <= 0 || visible.Height() <= 0) return;
    QImage image(visible.Width(), visible.Height(), QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) throw EOutOfResources("Not enough memory to draw the metafile");
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        QSvgRenderer renderer(QByteArray::fromStdString(svg_));
        renderer.setAspectRatioMode(Qt::IgnoreAspectRatio);
        const QRectF whole(rect.Left - visible.Left, rect.Top - visible.Top, rect.Width(), rect.Height());
        renderer.render(&painter, whole);
    }
    TBitmap drawn;
    FromQImage(image, drawn);
    canvas.DrawBitmap(visible, drawn);
}

void InstallQtGraphics() {
    for (const char* extension : MetafileExtensions)
        RegisterGraphicClass(extension, [] { return std::make_unique<TMetafile>(); });
}
