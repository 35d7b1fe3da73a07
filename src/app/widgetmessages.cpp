#include "app/widgetmessages.h"

#include "app/skin.h"

#include <QApplication>
#include <QMessageBox>
#include <QPixmap>

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
    // The login window's box wears the skin and the skin's information icon.
    QMessageBox box(QMessageBox::Information, QStringLiteral("Information"), text, QMessageBox::Ok, m_parent);
    box.setObjectName(QStringLiteral("bsSkinMessage1"));
    box.setIconPixmap(QPixmap(QStringLiteral(":/skin/information.png")));
    skin::apply(&box);
    box.exec();
}
