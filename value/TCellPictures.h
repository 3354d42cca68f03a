#pragma once

#include "TCellValue.h"

#include <QCache>
#include <QImage>
#include <QStringView>

namespace torvane {

// The pictures among the values the data table shows: what each is ("画像 PNG 40×30, 2 KB"), a thumbnail as
// high as a row, and the picture for a tooltip. Only the cells the view asks for are decoded, and what was
// found is kept for a bounded number of cells, so scrolling back and forth decodes nothing twice. An entry is
// known again by its position and a fingerprint of the value (its length and samples of its characters:
// hashing a 200 KB value whole on every paint of its cell would cost more than the paint); the table forgets
// the cells it is told changed, so an edited value is decoded afresh even where the samples miss the edit.
class TCellPictures {
public:
    struct TPicture {
        TImageInfo info;
        QImage thumbnail;
    };

    explicit TCellPictures(int thumbnailHeight = 14, int cells = 512);

    // The picture `value` in grid cell (col, row) holds, or nullptr when it holds none. Only values of
    // binary fields are looked at.
    const TPicture* picture(int col, int row, QStringView value, bool binaryField) const;
    // The tooltip of a picture value: the picture (at most `side` pixels each way) and its description, as
    // rich text that carries the picture itself.
    static QString tooltip(QStringView value, int side = 240);
    void clear() { m_cache.clear(); }
    // Forgets what was found for grid cells col..col+width-1, row..row+height-1.
    void forget(int col, int row, int width, int height);

private:
    struct TEntry {
        size_t fingerprint = 0;
        std::optional<TPicture> picture;
    };
    int m_thumbnailHeight;
    mutable QCache<quint64, TEntry> m_cache;
};

} // namespace torvane
