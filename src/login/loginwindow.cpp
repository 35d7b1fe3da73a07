#include "login/loginwindow.h"

#include "common/apperror.h"
#include "common/browser.h"
#include "common/usermessages.h"
#include "common/windowplacement.h"
#include "login/credentials.h"
#include "login/skin.h"
#include "net/hosts.h"
#include "text/gbk.h"

#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QScopeGuard>

namespace {

// A control at its place in the window. Without a size it takes the size its text needs.
template <typename Control>
Control *control(QWidget *window, const char *objectName, QPoint position, QSize size = {},
                 const char *text = "")
{
    auto *widget = new Control(window);
    widget->setObjectName(QLatin1String(objectName));
    if constexpr (requires { widget->setText(QString()); })
        widget->setText(QString::fromUtf8(text));
    widget->move(position);
    if (size.isValid())
        widget->resize(size);
    else
        widget->adjustSize();
    return widget;
}

} // namespace

LoginWindow::LoginWindow(UserSession &session, Browser &browser, UserMessages &messages, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_browser(browser), m_messages(messages), m_userLogin(session, *this, browser, messages),
      m_banner(control<QLabel>(this, "bsSkinLinkImage1", {0, 0}, {362, 65})),
      m_bannerRule(control<QFrame>(this, "bsSkinBevel2", {0, 65}, {362, 8})),
      m_userNameLabel(control<QLabel>(this, "bsSkinStdLabel1", {24, 77}, {}, "帐号")),
      m_userNameEdit(control<QLineEdit>(this, "bsSkinEdit1", {72, 75}, {193, 18})),
      m_syncLoginBox(control<QCheckBox>(this, "bsSkinCheckRadioBox2", {272, 73}, {150, 25}, "同步登录")),
      m_passwordLabel(control<QLabel>(this, "bsSkinStdLabel2", {24, 109}, {}, "密码")),
      m_passwordEdit(control<QLineEdit>(this, "bsSkinPasswordEdit1", {72, 104}, {193, 21})),
      m_rememberBox(control<QCheckBox>(this, "bsSkinCheckRadioBox1", {272, 101}, {73, 25}, "记住密码")),
      m_loginButton(control<QPushButton>(this, "bsSkinButton1", {144, 136}, {121, 25}, "登录")),
      m_registerLink(control<QLabel>(this, "bsSkinLinkLabel1", {72, 142}, {48, 14}, "注册帐号")),
      m_footerRule(control<QFrame>(this, "bsSkinBevel1", {0, 169}, {361, 16})),
      m_footerLabel(control<QLabel>(this, "bsSkinStdLabel3", {72, 173}, {204, 13},
                                    "请使用Corvyn站长论坛帐号和密码登录"))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromUtf8("Brisalo - 用户登录"));
    setAttribute(Qt::WA_StyledBackground);
    skin::apply(this);
    setFixedSize(362, 189);
    centreOnScreen(this);

    // The banner carries no link and ignores the mouse.
    m_banner->setScaledContents(true);
    m_banner->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_passwordEdit->setEchoMode(QLineEdit::Password);
    m_rememberBox->setChecked(true);
    m_syncLoginBox->setChecked(true);
    // Enter in a field must not log in, but Return on the focused button does,
    // as Space does: outside a dialog no button is the default, and an
    // auto-default button answers Return only while it has the focus.
    m_loginButton->setAutoDefault(true);
    m_loginButton->setDefault(false);
    m_footerLabel->setEnabled(false);

    QFont linkFont = m_registerLink->font();
    linkFont.setUnderline(true);
    m_registerLink->setFont(linkFont);
    m_registerLink->setCursor(Qt::PointingHandCursor);
    m_registerLink->installEventFilter(this);

    // Labels take no focus, so the link is no tab stop.
    setTabOrder(m_userNameEdit, m_passwordEdit);
    setTabOrder(m_passwordEdit, m_loginButton);
    setTabOrder(m_loginButton, m_rememberBox);
    setTabOrder(m_rememberBox, m_syncLoginBox);

    connect(m_loginButton, &QPushButton::clicked, this, &LoginWindow::logIn);
    connect(&m_userLogin, &UserLogin::syncLoginDone, this, &LoginWindow::syncLoginDone);

    loadSavedState();
}

QByteArray LoginWindow::userNameText() const
{
    return text::toGbk(m_userNameEdit->text());
}

QByteArray LoginWindow::passwordText() const
{
    return text::toGbk(m_passwordEdit->text());
}

bool LoginWindow::syncLoginTicked() const
{
    return m_syncLoginBox->isChecked();
}

void LoginWindow::loadSavedState()
{
    try {
        loadBanner();
        loadCredentials();
    } catch (const AppError &error) {
        m_messages.showError(error);
    }
}

void LoginWindow::logIn()
{
    // A press while a login is pending does nothing; the button is disabled meanwhile anyway.
    if (m_userLogin.isPending())
        return;
    try {
        Credentials::save(m_rememberBox->isChecked(), userNameText(), passwordText());
        LoginResult result;
        {
            m_loginButton->setEnabled(false);
            const auto enableAgain = qScopeGuard([this] { m_loginButton->setEnabled(true); });
            result = m_userLogin.logIn(userNameText(), passwordText());
        }
        switch (result) {
        case LoginResult::Refused:
            m_messages.showInformation(loginRefusedText());
            break;
        case LoginResult::Accepted:
            Q_EMIT loginAccepted();
            break;
        case LoginResult::Busy:
        case LoginResult::Cancelled:
            break;
        }
    } catch (const AppError &error) {
        m_messages.showError(error);
    }
}

void LoginWindow::openRegistrationPage()
{
    m_browser.open(hosts::accountUrl("/register.php"), Browser::Show::Normal);
}

bool LoginWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_registerLink && event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton && m_registerLink->rect().contains(mouse->position().toPoint()))
            openRegistrationPage();
    }
    return QWidget::eventFilter(watched, event);
}

void LoginWindow::loadBanner()
{
    // A missing or damaged picture is no reason to bother the user: the built-in banner stands in.
    QImage banner(QStringLiteral("pic/ad.jpg"));
    if (banner.isNull())
        banner.load(QStringLiteral(":/banner.jpg"));
    m_banner->setPixmap(QPixmap::fromImage(banner));
}

void LoginWindow::loadCredentials()
{
    const Credentials saved = Credentials::load();
    switch (saved.state) {
    case Credentials::State::Absent:
        break;
    case Credentials::State::Forgotten:
        m_rememberBox->setChecked(false);
        break;
    case Credentials::State::Remembered:
        m_userNameEdit->setText(text::fromGbk(saved.userName));
        m_passwordEdit->setText(text::fromGbk(saved.password));
        m_rememberBox->setChecked(true);
        break;
    }
}
