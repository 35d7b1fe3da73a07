#pragma once

#include <QByteArray>

// Opening a web address in the user's default browser. The address is GBK
// bytes exactly as the program built it; the implementation puts it into a form
// the desktop accepts.
class Browser
{
public:
    enum class Show
    {
        Normal,
        Hidden
    };

    virtual ~Browser() = default;
    virtual void open(const QByteArray &address, Show show) = 0;
};
