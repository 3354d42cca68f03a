#pragma once

#include "TCellValue.h"

#include <QCache>
#include <QImage>
#include <QStringView>

namespace torvane {

// The pictures among the values the data table shows: what each is ("画像 PNG 40×30, 2 KB"), a thumbnail as
// high as a row, and the picture for a tooltip. Only the cells the view asks for are decoded, and what was
// found is kept for a bounded number of cells, known again by position and the value's hash, so scrolling
// back and forth decodes nothing twice and an edited value is decoded afresh.
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

private:
    struct TEntry {
        size_t hash = 0;
        qsizetype length = 0;
        std::optional<TPicture> picture;
    };
    int m_thumbnailHeight;
    mutable QCache<quint64, TEntry> m_cache;
};

} // namespace torvane
