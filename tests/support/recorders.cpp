#include "recorders.h"

namespace testsupport {

QStringList RecordingMessages::texts() const
{
    QStringList result;
    for (const Shown &box : shown)
        result.append(box.text);
    return result;
}

void RecordingMessages::record(const Shown &box)
{
    shown.append(box);
    if (whileOpen)
        whileOpen(box);
}

} // namespace testsupport
