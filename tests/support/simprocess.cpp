#include "simprocess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>

namespace testsupport {

QString builtExecutable(const QString &relativePath)
{
    return QDir(QString::fromLocal8Bit(qgetenv("QUILLMARSH_BIN_DIR"))).filePath(relativePath);
}

QString sourceFile(const QString &relativePath)
{
    return QDir(QStringLiteral(QUILLMARSH_SOURCE_DIR)).filePath(relativePath);
}

bool writeFile(const QString &fileName, const QByteArray &bytes)
{
    QFile file(fileName);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

SimProcess::SimProcess(const QStringList &arguments)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(builtExecutable(QStringLiteral("tools/sim/quillmarsh-sim")),
                    QStringList{QStringLiteral("--port"), QStringLiteral("0")} + arguments);
    const QByteArray prefix = "listening on 127.0.0.1:";
    const QDeadlineTimer deadline(10'000);
    while (!m_process.canReadLine() && m_process.waitForReadyRead(int(deadline.remainingTime()))) {
    }
    const QByteArray line = m_process.readLine().trimmed();
    if (line.startsWith(prefix))
        m_port = quint16(line.sliced(prefix.size()).toUInt());
}

SimProcess::~SimProcess()
{
    m_process.kill();
    m_process.waitForFinished();
}

QByteArray SimProcess::hostAndPort() const
{
    return "127.0.0.1:" + QByteArray::number(m_port);
}

} // namespace testsupport
