#include "app/widgetmessages.h"

#include "login/skin.h"

#include <QApplication>
#include <QGridLayout>
#include <QMessageBox>
#include <QPixmap>

namespace {

// The window manager draws the caption in its title bar beside its own
// buttons, in a font that may be larger than ours; a box no wider than its
// text would show the caption as "…".
constexpr int titleBarButtonsWidth = 120;

// Modal to the window it is shown over, not to the whole program: the tray
// icon stays usable while a box is open.
void runBox(QMessageBox &box)
{
    box.setWindowModality(Qt::WindowModal);
    const int captionWidth =
        box.fontMetrics().horizontalAdvance(box.windowTitle()) * 3 / 2 + titleBarButtonsWidth;
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout()))
        grid->addItem(new QSpacerItem(captionWidth, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    box.exec();
}

} // namespace

QWidget *WidgetMessages::parentWindow() const
{
    return m_parent ? m_parent : QApplication::activeWindow();
}

void WidgetMessages::showBox(QMessageBox::Icon icon, const QString &text)
{
    QMessageBox box(icon, QApplication::applicationName(), text, QMessageBox::Ok, parentWindow());
    runBox(box);
}

void WidgetMessages::plainBox(const QString &text)
{
    showBox(QMessageBox::NoIcon, text);
}

void WidgetMessages::errorBox(const QString &text)
{
    showBox(QMessageBox::Critical, text);
}

void WidgetMessages::informationBox(const QString &text)
{
    // The login window's box wears the skin and the skin's information icon.
    // The skin is applied before the button is made, so the button follows it.
    QMessageBox box(parentWindow());
    box.setObjectName(QStringLiteral("bsSkinMessage1"));
    skin::apply(&box);
    box.setWindowTitle(QStringLiteral("Information"));
    box.setIconPixmap(QPixmap(QStringLiteral(":/skin/information.png")));
    box.setText(text);
    box.setStandardButtons(QMessageBox::Ok);
    runBox(box);
}
