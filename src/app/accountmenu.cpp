#include "app/accountmenu.h"

#include "login/skin.h"

namespace {
QAction *addEntry(QMenu *menu, const char *objectName, const char *caption, bool enabled = true)
{
    QAction *action = menu->addAction(QString::fromUtf8(caption));
    action->setObjectName(QLatin1String(objectName));
    action->setEnabled(enabled);
    return action;
}
} // namespace

// The entries are added in menu order; a separator goes before "我的帖子" and "退出程序".
AccountMenu::AccountMenu(QWidget *parent)
    : QMenu(parent), switchAccount(addEntry(this, "r1", "切换帐号(&C)")),
      hideWindows(addEntry(this, "ttt1", "隐藏窗口(&H)")), showWindow(addEntry(this, "S1", "显示窗口(&S)")),
      myPosts((addSeparator(), addEntry(this, "N441", "我的帖子(&T)", false))),
      changePassword(addEntry(this, "N4", "修改密码(&P)", false)),
      exitProgram((addSeparator(), addEntry(this, "N2", "退出程序(&E)")))
{
    setObjectName(QStringLiteral("bsSkinPopupMenu1"));
    skin::apply(this);
}

void AccountMenu::enableAccountEntries()
{
    myPosts->setEnabled(true);
    changePassword->setEnabled(true);
}
