#pragma once

#include <QMenu>

class QAction;

// The tray icon's account menu. Its two forum entries start disabled; a login
// with sync login enables them for the rest of the run.
class AccountMenu final : public QMenu
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AccountMenu)

public:
    explicit AccountMenu(QWidget *parent = nullptr);

    // Enables 我的帖子 and 修改密码.
    void enableAccountEntries();

    QAction *const switchAccount;
    QAction *const hideWindows;
    QAction *const showWindow;
    QAction *const myPosts;
    QAction *const changePassword;
    QAction *const exitProgram;
};
