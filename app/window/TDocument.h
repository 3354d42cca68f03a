#pragma once

#include "TPacketFile.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>

class QUndoStack;

namespace torvane {

// The file the window's work belongs to (the one last saved or loaded) and whether the work holds changes
// that the file does not. The mark follows real changes: a button that refused, or a list opened and closed,
// leaves it as it was, and an edit undone back to the saved state clears it, as QUndoStack::isClean does.
class TDocument : public QObject {
    Q_OBJECT
public:
    // The part of the work that no undo step covers (settings, field definitions, key selections), in a form
    // to compare with what it was when last saved or loaded.
    using TStateOf = std::function<QStringList()>;

    using QObject::QObject;

    // The data page's undo stack, and the work's state beside it.
    void track(QUndoStack* stack, TStateOf state);

    const QString& fileName() const { return m_fileName; }
    bool isModified() const { return m_modified; }

    // The file as it was when it was loaded or last saved here.
    const TFileStamp& fileStamp() const { return m_stamp; }

    // How the file held its text: the save writes it the same way, unless the text's declaration names
    // another encoding. A new workspace's is CP932.
    const TTextEncoding& encoding() const { return m_encoding; }

    // The work may have changed: compares it with the saved state again.
    void update();
    // Whether the XML text holds a hand edit the data page has not read yet (undone, it holds none).
    void setTextEdited(bool edited);
    // The undo stack is about to forget its steps: changes it held that are not saved stay unsaved.
    void keepUnsavedSteps();
    // The data page read the XML text afresh, replacing the work; `wasModified` as it was before the read.
    // A read of saved or loaded text is that file's work; a read of an edited text stays unsaved.
    void workRead(bool wasModified);
    // After a successful save or load: the work now is what `fileName` holds, the version that `stamp` tells,
    // in `encoding`.
    void savedOrLoaded(const QString& fileName, const TFileStamp& stamp,
                       const TTextEncoding& encoding = TTextEncoding());

    // "Torvane" until a file is saved or loaded, then "<name>[*] - Torvane"; "[*]" shows the modified mark.
    QString windowTitle() const;

signals:
    void changed();

private:
    bool stackClean() const;
    bool computeModified() const;

    QString m_fileName;
    bool m_modified = false;
    TFileStamp m_stamp;
    TTextEncoding m_encoding;
    QPointer<QUndoStack> m_stack;
    TStateOf m_state;
    QStringList m_savedState;
    bool m_textEdited = false;
    // Changes that no undo step can take back any more (the steps were forgotten, or a read took them in).
    bool m_kept = false;
};

} // namespace torvane
