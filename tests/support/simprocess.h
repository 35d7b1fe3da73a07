#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace testsupport {

// An executable of this build, by its path below the build folder
// (QUILLMARSH_BIN_DIR, set by the test registration), e.g. "tools/sim/quillmarsh-sim".
QString builtExecutable(const QString &relativePath);
// A file of the source tree by its path below the project folder, e.g.
// "tools/sim/modern-profile.ini".
QString sourceFile(const QString &relativePath);
// Writes a small fixture file; false when it cannot be written.
bool writeFile(const QString &fileName, const QByteArray &bytes);

// quillmarsh-sim as a child process on a free loopback port. The port is read
// from its "listening on" line; port() stays 0 when the simulator did not start.
class SimProcess
{
public:
    explicit SimProcess(const QStringList &arguments = {});
    ~SimProcess();
    Q_DISABLE_COPY_MOVE(SimProcess)

    quint16 port() const { return m_port; }
    QByteArray hostAndPort() const; // "127.0.0.1:PORT"

private:
    QProcess m_process;
    quint16 m_port = 0;
};

} // namespace testsupport
