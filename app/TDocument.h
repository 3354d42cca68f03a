#pragma once

#include "TPacketFile.h"

#include <QObject>
#include <QString>

namespace torvane {

// The file the window's work belongs to (the one last saved or loaded) and whether the work holds changes
// that the file does not. Every user edit marks it modified; only a successful save or load clears it.
class TDocument : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    const QString& fileName() const { return m_fileName; }
    bool isModified() const { return m_modified; }

    // The file as it was when it was loaded or last saved here.
    const TFileStamp& fileStamp() const { return m_stamp; }

    void setModified(bool modified);
    // After a successful save or load: the work now is what `fileName` holds, the version that `stamp` tells.
    void savedOrLoaded(const QString& fileName, const TFileStamp& stamp);

    // "Torvane" until a file is saved or loaded, then "<name>[*] - Torvane"; "[*]" shows the modified mark.
    QString windowTitle() const;

signals:
    void changed();

private:
    QString m_fileName;
    bool m_modified = false;
    TFileStamp m_stamp;
};

} // namespace torvane
