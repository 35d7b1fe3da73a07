#include "smalldisk.h"

#include <QDir>
#include <QFile>
#include <QProcess>

namespace testsupport {

namespace {

bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished() && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

} // namespace

SmallDisk::SmallDisk(const QString &size)
{
    m_mounted =
        m_base.isValid() && run(QStringLiteral("mount"),
                                {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                 QStringLiteral("size=") + size, QStringLiteral("tmpfs"), m_base.path()});
}

SmallDisk::~SmallDisk()
{
    if (m_mounted)
        run(QStringLiteral("umount"), {m_base.path()});
}

void SmallDisk::fill() const
{
    QFile filler(filePath(QStringLiteral("filler")));
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return;
    const QByteArray block(1024, 'f');
    while (filler.write(block) == block.size()) {
    }
}

bool SmallDisk::makeReadOnly() const
{
    return run(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("remount,ro"), m_base.path()});
}

QStringList SmallDisk::files() const
{
    return QDir(m_base.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace testsupport
