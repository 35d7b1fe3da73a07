#include "app/quillmarshapp.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QuillmarshApp program;
    program.start(QuillmarshApp::startsMinimized(QApplication::arguments()));
    return QApplication::exec();
}
