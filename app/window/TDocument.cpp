#include "window/TDocument.h"

#include <QFileInfo>
#include <QUndoStack>

namespace torvane {

void TDocument::track(QUndoStack* stack, TStateOf state)
{
    m_stack = stack;
    m_state = std::move(state);
    m_savedState = m_state ? m_state() : QStringList();
    if (m_stack) {
        m_stack->setClean();
        connect(m_stack, &QUndoStack::indexChanged, this, &TDocument::update);
        connect(m_stack, &QUndoStack::cleanChanged, this, &TDocument::update);
    }
    update();
}

bool TDocument::stackClean() const
{
    return !m_stack || m_stack->isClean();
}

bool TDocument::computeModified() const
{
    return m_kept || m_textEdited || !stackClean() || (m_state && m_state() != m_savedState);
}

void TDocument::update()
{
    const bool modified = computeModified();
    if (m_modified != modified) {
        m_modified = modified;
        emit changed();
    }
}

void TDocument::setTextEdited(bool edited)
{
    m_textEdited = edited;
    update();
}

void TDocument::keepUnsavedSteps()
{
    if (!stackClean()) {
        m_kept = true;
    }
}

void TDocument::workRead(bool wasModified)
{
    m_textEdited = false;
    if (wasModified) {
        m_kept = true;
    } else {
        m_savedState = m_state ? m_state() : QStringList();
        if (m_stack) {
            m_stack->setClean();
        }
    }
    update();
}

void TDocument::savedOrLoaded(const QString& fileName, const TFileStamp& stamp, const TTextEncoding& encoding)
{
    m_fileName = fileName;
    m_stamp = stamp;
    m_encoding = encoding;
    m_kept = false;
    m_textEdited = false;
    m_savedState = m_state ? m_state() : QStringList();
    if (m_stack) {
        m_stack->setClean();
    }
    // The title shows the new name even when the mark did not change.
    m_modified = computeModified();
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
