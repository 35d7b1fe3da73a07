#pragma once

#include "common/usermessages.h"

#include <QMessageBox>

class QWidget;

// UserMessages shown as real message boxes, modal to the window they are
// shown over: parent, or else the active window.
class WidgetMessages final : public UserMessages
{
public:
    explicit WidgetMessages(QWidget *parent = nullptr) : m_parent(parent) {}

protected:
    void plainBox(const QString &text) override;
    void errorBox(const QString &text) override;
    void informationBox(const QString &text) override;

private:
    QWidget *parentWindow() const;
    void showBox(QMessageBox::Icon icon, const QString &text);

    QWidget *m_parent;
};
