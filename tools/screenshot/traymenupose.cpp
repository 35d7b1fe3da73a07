// Starts the program as main() does and opens the tray's account menu beside
// the login window, so the menu can be photographed on a desktop without a
// notification area: quillmarsh-traymenu-pose [seconds to stay]
#include "app/accountmenu.h"
#include "app/quillmarshapp.h"
#include "login/loginwindow.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QuillmarshApp program;
    program.start();
    const int seconds = argc > 1 ? QByteArray(argv[1]).toInt() : 10;
    QTimer::singleShot(500, &program, [&program] {
        AccountMenu &menu = program.accountMenu();
        const QRect login = program.loginWindow().frameGeometry();
        menu.popup(login.topRight() + QPoint(16, 24));
        menu.setActiveAction(menu.switchAccount);
    });
    QTimer::singleShot(seconds * 1000, &application, &QCoreApplication::quit);
    return QApplication::exec();
}
