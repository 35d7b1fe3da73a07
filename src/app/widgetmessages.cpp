#include "app/widgetmessages.h"

#include <QApplication>
#include <QMessageBox>

namespace {
void showBox(QWidget *parent, QMessageBox::Icon icon, const QString &caption, const QString &text)
{
    QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
    box.exec();
}
} // namespace

void WidgetMessages::plainBox(const QString &text)
{
    showBox(m_parent, QMessageBox::NoIcon, QApplication::applicationName(), text);
}

void WidgetMessages::errorBox(const QString &text)
{
    showBox(m_parent, QMessageBox::Critical, QApplication::applicationName(), text);
}

void WidgetMessages::informationBox(const QString &text)
{
    showBox(m_parent, QMessageBox::Information, QStringLiteral("Information"), text);
}
