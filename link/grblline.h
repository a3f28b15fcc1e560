#pragma once

#include <QByteArray>
#include <QString>

// What may travel to GRBL as a line. GRBL takes "?", "!", "~", 0x18 and every byte from 0x80 up out of
// the stream as real-time commands wherever they stand, even inside a comment, and it ends a line at
// "\r" as well as at "\n": such characters inside a line would stop, resume or reset the machine, or
// split one line into two answers.
namespace GrblLine {

// A real-time command: one character that GRBL acts on at once, outside its receive buffer.
bool isRealtimeCommand(const QString &text);

// The real-time command a text of the form "!\n", "~\n", "?\n" or 0x18 "\n" stands for, or an empty text.
QString realtimeCommandOf(const QString &text);

// A program line as GRBL reads it: comments "( ... )" and "; ..." removed, line end characters removed,
// blanks at both ends trimmed. GRBL ignores all of these, and they cost space in its buffer.
QString stripped(const QString &line);
// The same for a line's UTF-8 bytes: every character that delimits a comment or ends a line is ASCII.
QByteArray strippedBytes(const char *begin, const char *end);

// The position of the first character that must not be sent inside a line (real-time characters,
// control characters other than a tab, anything beyond ASCII), or -1 when the line is safe.
int unsafeCharacterAt(const QString &line);
bool isSafe(const QByteArray &line);

// How a refused character is shown to the user: itself when printable, else its code.
QString describeCharacter(QChar character);

}
