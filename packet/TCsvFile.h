#pragma once

#include "TAtomicFile.h"

#include <QByteArrayView>
#include <QString>

namespace torvane {

// The encodings a CSV file may be read in: told from its bytes, or as the user says.
enum class TCsvEncodingChoice { Automatic, Utf8, Cp932 };

// The two encodings a CSV file is written in: UTF-8 with a byte-order mark, which spreadsheets need to
// tell it from the ANSI code page, or CP932 itself.
enum class TCsvEncoding { Utf8WithBom, Cp932 };

// Writes a CSV file a record at a time, encoded as it goes, so that a table of a million rows is never
// held a second time as text or bytes; the file is replaced atomically, by commit() only. CP932 refuses a
// character it cannot represent, naming it and its line: the old file stays as it was. Every failure throws
// TFailure with the message to show.
class TCsvFileWriter {
public:
    TCsvFileWriter(const QString& fileName, TCsvEncoding encoding);

    // Appends a record of toCsvText's form.
    void writeRecord(const QStringView* values, int count);
    // Appends CSV text as it stands.
    void writeText(QStringView text);
    void commit();

private:
    // Encodes what was appended and writes it.
    void flush();

    TCsvEncoding m_encoding;
    TAtomicFile m_file;
    QString m_text;
    QByteArray m_bytes;
    // Line breaks (LF) written before m_text, for the line a CP932 refusal names.
    qsizetype m_lines = 0;
};

// Writes CSV text to `fileName` atomically, as TCsvFileWriter does.
void saveCsvFile(const QString& fileName, const QString& csvText, TCsvEncoding encoding);

// Reads a CSV file's text, its encoding told as a packet file's is (decodeFileText); line breaks stay as
// they are. Throws TFailure("ファイル <name> は開けません") for anything but a regular file.
QString loadCsvFile(const QString& fileName);
// The text of a CSV file's bytes in the encoding chosen: told as loadCsvFile tells it, UTF-8 (a byte-order
// mark dropped), or CP932. Throws TFailure where CP932 cannot be read at all (a Qt without ICU), and, for
// the automatic choice, where the bytes read as UTF-8 and as CP932 alike (isKatakanaOrUtf8()): the message
// shows both readings and asks for a choice.
QString decodeCsvText(QByteArrayView bytes, TCsvEncodingChoice encoding);

} // namespace torvane
