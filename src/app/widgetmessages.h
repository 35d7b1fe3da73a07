#pragma once

#include "common/usermessages.h"

class QWidget;

// UserMessages shown as real modal message boxes.
class WidgetMessages final : public UserMessages
{
public:
    explicit WidgetMessages(QWidget *parent = nullptr) : m_parent(parent) {}

protected:
    void plainBox(const QString &text) override;
    void errorBox(const QString &text) override;
    void informationBox(const QString &text) override;

private:
    QWidget *m_parent;
};
