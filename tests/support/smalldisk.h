#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace testsupport {

// A 64 KiB tmpfs of our own (or of the size given), unmounted at the end.
// Mounting needs root; isMounted() says whether it worked.
class SmallDisk
{
public:
    explicit SmallDisk(const QString &size = QStringLiteral("64k"));
    ~SmallDisk();
    Q_DISABLE_COPY_MOVE(SmallDisk)

    bool isMounted() const { return m_mounted; }
    QString path() const { return m_base.path(); }
    QString filePath(const QString &name) const { return m_base.filePath(name); }

    // Writes a file until the disk refuses more.
    void fill() const;
    bool makeReadOnly() const;
    QStringList files() const;

private:
    QTemporaryDir m_base;
    bool m_mounted = false;
};

} // namespace testsupport
