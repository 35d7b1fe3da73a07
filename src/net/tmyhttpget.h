#pragma once

#include "net/thttpget.h"

// A page fetch tagged with the keyword it was started for, so the completion
// handler can tell which keyword a page belongs to.
class Tmyhttpget final : public THTTPGet
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Tmyhttpget)

public:
    using THTTPGet::THTTPGet;

    QByteArray keyword;
};
