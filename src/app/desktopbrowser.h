#pragma once

#include "common/browser.h"

// Browser through the desktop's URL handler. The desktop has no hidden show
// state, so both states open the address normally.
class DesktopBrowser final : public Browser
{
public:
    void open(const QByteArray &address, Show show) override;
};
