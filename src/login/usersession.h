#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>

// The user profile (`userinfo`) and the logged-in flag (`loggedin`): the
// login routine writes them, the query window's caption and the tray read them.
class UserSession final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UserSession)

public:
    explicit UserSession(QObject *parent = nullptr) : QObject(parent) {}

    const QList<QByteArray> &userinfo() const { return m_userinfo; }
    // Line i of the profile; empty past its end.
    QByteArray userinfoLine(int i) const { return m_userinfo.value(i); }
    void resetUserinfo() { m_userinfo.clear(); }
    void appendUserinfo(const QByteArray &field) { m_userinfo.append(field); }

    int loggedin() const { return m_loggedin; }
    void setLoggedin(int value)
    {
        if (m_loggedin == value)
            return;
        m_loggedin = value;
        Q_EMIT loggedinChanged(value);
    }

Q_SIGNALS:
    void loggedinChanged(int loggedin);

private:
    QList<QByteArray> m_userinfo;
    int m_loggedin = 0;
};
