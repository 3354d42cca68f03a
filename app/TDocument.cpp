#include "TDocument.h"

#include <QFileInfo>

namespace torvane {

void TDocument::setModified(bool modified)
{
    if (m_modified != modified) {
        m_modified = modified;
        emit changed();
    }
}

void TDocument::savedOrLoaded(const QString& fileName, const TFileStamp& stamp)
{
    m_fileName = fileName;
    m_stamp = stamp;
    m_modified = false;
    emit changed();
}

QString TDocument::windowTitle() const
{
    const QString app = QStringLiteral("Torvane");
    if (m_fileName.isEmpty()) {
        return app + QStringLiteral("[*]");
    }
    // A literal "[*]" in a file name would be taken for the mark; Qt reads "[*][*]" as the text "[*]".
    QString name = QFileInfo(m_fileName).fileName();
    name.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
    return name + QStringLiteral("[*] - ") + app;
}

} // namespace torvane
