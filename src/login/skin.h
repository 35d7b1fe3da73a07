#pragma once

class QIcon;
class QWidget;

// The program's own look for the login window, its information box and the
// tray menu: a style sheet with pictures, compiled into the program as a
// resource. The query window keeps the platform's look.
namespace skin {

// Gives the widget and its children the skin; the sheet picks its controls by object name.
void apply(QWidget *widget);
// The program icon in 16, 32 and 48 pixels.
QIcon programIcon();

} // namespace skin
