#include "login/tform1.h"

#include "app/apperror.h"
#include "app/browser.h"
#include "app/skin.h"
#include "app/usermessages.h"
#include "login/credentials.h"
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
#include <QScreen>

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

TForm1::TForm1(UserSession &session, AccountMenuEntries &accountEntries, Browser &browser,
               UserMessages &messages, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_browser(browser), m_messages(messages),
      m_userLogin(session, *this, accountEntries, browser, messages),
      bsSkinLinkImage1(control<QLabel>(this, "bsSkinLinkImage1", {0, 0}, {362, 65})),
      bsSkinBevel2(control<QFrame>(this, "bsSkinBevel2", {0, 65}, {362, 8})),
      bsSkinStdLabel1(control<QLabel>(this, "bsSkinStdLabel1", {24, 77}, {}, "帐号")),
      bsSkinEdit1(control<QLineEdit>(this, "bsSkinEdit1", {72, 75}, {193, 18})),
      bsSkinCheckRadioBox2(
          control<QCheckBox>(this, "bsSkinCheckRadioBox2", {272, 73}, {150, 25}, "同步登录")),
      bsSkinStdLabel2(control<QLabel>(this, "bsSkinStdLabel2", {24, 109}, {}, "密码")),
      bsSkinPasswordEdit1(control<QLineEdit>(this, "bsSkinPasswordEdit1", {72, 104}, {193, 21})),
      bsSkinCheckRadioBox1(
          control<QCheckBox>(this, "bsSkinCheckRadioBox1", {272, 101}, {73, 25}, "记住密码")),
      bsSkinButton1(control<QPushButton>(this, "bsSkinButton1", {144, 136}, {121, 25}, "登录")),
      bsSkinLinkLabel1(control<QLabel>(this, "bsSkinLinkLabel1", {72, 142}, {48, 14}, "注册帐号")),
      bsSkinBevel1(control<QFrame>(this, "bsSkinBevel1", {0, 169}, {361, 16})),
      bsSkinStdLabel3(control<QLabel>(this, "bsSkinStdLabel3", {72, 173}, {204, 13},
                                      "请使用Corvyn站长论坛帐号和密码登录"))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromUtf8("Brisalo - 用户登录"));
    setAttribute(Qt::WA_StyledBackground);
    skin::apply(this);
    setFixedSize(362, 189);
    if (const QScreen *desktop = screen())
        move(desktop->availableGeometry().center() - rect().center());

    // The banner carries no link and ignores the mouse.
    bsSkinLinkImage1->setScaledContents(true);
    bsSkinLinkImage1->setAttribute(Qt::WA_TransparentForMouseEvents);
    bsSkinPasswordEdit1->setEchoMode(QLineEdit::Password);
    bsSkinCheckRadioBox1->setChecked(true);
    bsSkinCheckRadioBox2->setChecked(true);
    // Enter in a field must not log in.
    bsSkinButton1->setAutoDefault(false);
    bsSkinButton1->setDefault(false);
    bsSkinStdLabel3->setEnabled(false);

    QFont linkFont = bsSkinLinkLabel1->font();
    linkFont.setUnderline(true);
    bsSkinLinkLabel1->setFont(linkFont);
    bsSkinLinkLabel1->setCursor(Qt::PointingHandCursor);
    bsSkinLinkLabel1->installEventFilter(this);

    // Labels take no focus, so the link is no tab stop.
    setTabOrder(bsSkinEdit1, bsSkinPasswordEdit1);
    setTabOrder(bsSkinPasswordEdit1, bsSkinButton1);
    setTabOrder(bsSkinButton1, bsSkinCheckRadioBox1);
    setTabOrder(bsSkinCheckRadioBox1, bsSkinCheckRadioBox2);

    connect(bsSkinButton1, &QPushButton::clicked, this, &TForm1::bsSkinButton1Click);

    FormCreate();
}

QByteArray TForm1::userNameText() const
{
    return text::toGbk(bsSkinEdit1->text());
}

QByteArray TForm1::passwordText() const
{
    return text::toGbk(bsSkinPasswordEdit1->text());
}

bool TForm1::syncLoginTicked() const
{
    return bsSkinCheckRadioBox2->isChecked();
}

void TForm1::FormCreate()
{
    try {
        loadBanner();
        loadCredentials();
    } catch (const AppError &error) {
        m_messages.showError(error);
    }
}

void TForm1::bsSkinButton1Click()
{
    // A press while a login is pending does nothing; the button is disabled meanwhile anyway.
    if (m_userLogin.isPending())
        return;
    try {
        Credentials::save(bsSkinCheckRadioBox1->isChecked(), userNameText(), passwordText());
        LoginResult result;
        {
            bsSkinButton1->setEnabled(false);
            const auto enableAgain = qScopeGuard([this] { bsSkinButton1->setEnabled(true); });
            result = m_userLogin.userlogin(userNameText(), passwordText());
        }
        switch (result) {
        case LoginResult::Refused:
            m_messages.showInformation(loginRefusedText());
            break;
        case LoginResult::Accepted:
            Q_EMIT loginAccepted();
            break;
        case LoginResult::Busy:
            break;
        }
    } catch (const AppError &error) {
        m_messages.showError(error);
    }
}

void TForm1::bsSkinLinkLabel1Click()
{
    m_browser.open("http://" + hosts::accountHost() + "/register.php", Browser::Show::Normal);
}

bool TForm1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == bsSkinLinkLabel1 && event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton &&
            bsSkinLinkLabel1->rect().contains(mouse->position().toPoint()))
            bsSkinLinkLabel1Click();
    }
    return QWidget::eventFilter(watched, event);
}

void TForm1::loadBanner()
{
    // A missing or damaged picture is no reason to bother the user: the built-in banner stands in.
    QImage banner(QStringLiteral("pic/ad.jpg"));
    if (banner.isNull())
        banner.load(QStringLiteral(":/banner.jpg"));
    bsSkinLinkImage1->setPixmap(QPixmap::fromImage(banner));
}

void TForm1::loadCredentials()
{
    const Credentials saved = Credentials::load();
    switch (saved.state) {
    case Credentials::State::Absent:
        break;
    case Credentials::State::Forgotten:
        bsSkinCheckRadioBox1->setChecked(false);
        break;
    case Credentials::State::Remembered:
        bsSkinEdit1->setText(text::fromGbk(saved.userName));
        bsSkinPasswordEdit1->setText(text::fromGbk(saved.password));
        bsSkinCheckRadioBox1->setChecked(true);
        break;
    }
}
