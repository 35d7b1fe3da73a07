#pragma once

#include <QByteArray>
#include <QString>

// The saved-credentials file "info.dat": three lines, each ended by CR LF,
// holding the user name, the password and "1" when the user asked to be
// remembered, or "xxx" three times otherwise. Bytes are GBK as the program
// holds them. A relative file name is resolved against the working directory
// at the moment of each load or save.
struct Credentials
{
    enum class State
    {
        Absent,     // no file, or fewer than three lines: leave the login window as it is
        Forgotten,  // the third line is not "1": untick the remember box
        Remembered, // fill both fields and tick the remember box
    };

    State state = State::Absent;
    QByteArray userName;
    QByteArray password;

    static QString defaultFileName() { return QStringLiteral("info.dat"); }

    // What a file holding these bytes means.
    static Credentials fromBytes(const QByteArray &contents);
    // What save writes.
    static QByteArray toBytes(bool remember, const QByteArray &userName, const QByteArray &password);

    // Reads the first 4 KiB of a regular file. Throws AppError when an
    // existing file cannot be read or is no regular file (a FIFO, a directory).
    static Credentials load(const QString &fileName = defaultFileName());
    // Replaces the file atomically, readable by its owner only; where the
    // folder cannot be written, writes the existing file in place. Throws
    // AppError and leaves the previous file as it was when the new one cannot
    // be written.
    static void save(bool remember, const QByteArray &userName, const QByteArray &password,
                     const QString &fileName = defaultFileName());
};
