#include "TCellPictures.h"

#include <QBuffer>
#include <QImageReader>

namespace torvane {

namespace {

// Shorter base64 text holds no picture worth a thumbnail, and is not looked at.
constexpr qsizetype MinPictureText = 64;

// The picture in a binary value's bytes: what follows the Graphics header when there is one.
std::optional<QByteArray> pictureBytes(QStringView value)
{
    std::optional<QByteArray> bytes = decodeBase64(value);
    if (bytes) {
        bytes->remove(0, graphicsHeaderLength(*bytes));
    }
    return bytes;
}

// Enough of the value to tell it from another: its length, both ends, and 16 slices spread over it.
size_t fingerprint(QStringView value)
{
    constexpr qsizetype Ends = 256;
    constexpr qsizetype Slices = 16;
    constexpr qsizetype Slice = 16;
    size_t seed = qHashMulti(0, value.size(), value.first(std::min(Ends, value.size())),
                             value.last(std::min(Ends, value.size())));
    const qsizetype step = value.size() / Slices;
    for (qsizetype i = 1; step > Slice && i < Slices; ++i) {
        seed = qHashMulti(seed, value.sliced(i * step, Slice));
    }
    return seed;
}

QImage readScaled(const QByteArray& bytes, const TImageInfo& info, QSize box)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, info.format);
    const QSize scaled = info.size.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
    // Readers that can decode smaller (JPEG) do; the others decode whole and are scaled here. Pictures of
    // palette colours (one bit a pixel above all) are scaled in full colour: scaled as they are, they come
    // out as black and white hatching.
    const QImage::Format format = reader.imageFormat();
    const bool palette = format == QImage::Format_Mono || format == QImage::Format_MonoLSB ||
                         format == QImage::Format_Indexed8 || format == QImage::Format_Invalid;
    if (!palette && reader.supportsOption(QImageIOHandler::ScaledSize)) {
        reader.setScaledSize(scaled);
    }
    QImage image = reader.read();
    if (!image.isNull() && image.size() != scaled && (image.width() > box.width() || image.height() > box.height())) {
        if (image.depth() < 32) {
            image.convertTo(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        }
        image = image.scaled(scaled, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    return image;
}

} // namespace

TCellPictures::TCellPictures(int thumbnailHeight, int cells) : m_thumbnailHeight(thumbnailHeight), m_cache(cells) {}

const TCellPictures::TPicture* TCellPictures::picture(int col, int row, QStringView value, bool binaryField) const
{
    if (!binaryField || value.size() < MinPictureText) {
        return nullptr;
    }
    const quint64 key = (quint64(quint32(row)) << 32) | quint32(col);
    const size_t print = fingerprint(value);
    if (const TEntry* entry = m_cache.object(key); entry && entry->fingerprint == print) {
        return entry->picture ? &*entry->picture : nullptr;
    }
    auto entry = std::make_unique<TEntry>();
    entry->fingerprint = print;
    if (const std::optional<QByteArray> bytes = pictureBytes(value)) {
        const TImageInfo info = probeImage(*bytes);
        if (info.isImage()) {
            const QSize box(m_thumbnailHeight * 2, m_thumbnailHeight);
            entry->picture = TPicture{info, readScaled(*bytes, info, box)};
        }
    }
    const TEntry* kept = entry.get();
    m_cache.insert(key, entry.release());
    return kept->picture ? &*kept->picture : nullptr;
}

void TCellPictures::forget(int col, int row, int width, int height)
{
    for (const quint64 key : m_cache.keys()) {
        const int c = int(quint32(key));
        const int r = int(quint32(key >> 32));
        if (c >= col && c < col + width && r >= row && r < row + height) {
            m_cache.remove(key);
        }
    }
}

QString TCellPictures::tooltip(QStringView value, int side)
{
    const std::optional<QByteArray> bytes = pictureBytes(value);
    if (!bytes) {
        return {};
    }
    const TImageInfo info = probeImage(*bytes);
    if (!info.isImage()) {
        return {};
    }
    const QImage image = readScaled(*bytes, info, QSize(side, side));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return QStringLiteral("<img src=\"data:image/png;base64,%1\" width=\"%2\" height=\"%3\"><br>%4")
        .arg(QString::fromLatin1(png.toBase64()))
        .arg(image.width())
        .arg(image.height())
        .arg(info.description().toHtmlEscaped());
}

} // namespace torvane
