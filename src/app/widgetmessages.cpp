#include "app/widgetmessages.h"

#include "login/skin.h"

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
    // The skin is applied before the button is made, so the button follows it.
    QMessageBox box(m_parent);
    box.setObjectName(QStringLiteral("bsSkinMessage1"));
    skin::apply(&box);
    box.setWindowTitle(QStringLiteral("Information"));
    box.setIconPixmap(QPixmap(QStringLiteral(":/skin/information.png")));
    box.setText(text);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}
