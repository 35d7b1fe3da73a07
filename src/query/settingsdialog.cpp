#include "query/settingsdialog.h"

#include "common/apperror.h"
#include "common/marketprofile.h"
#include "common/usermessages.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <limits>

SettingsDialog::SettingsDialog(const Values &values, UserMessages &messages, QWidget *parent)
    : QDialog(parent), m_messages(messages), m_form(new QFormLayout)
{
    setObjectName(QStringLiteral("SettingsDialog"));
    setWindowTitle(QStringLiteral("设置"));
    const CrawlSettings &crawl = values.crawl;
    constexpr int many = std::numeric_limits<int>::max();
    m_parallel = addNumber(QStringLiteral("Parallel"), QStringLiteral("同时抓取页数"), 1,
                           CrawlSettings::MaxParallel, crawl.parallel);
    m_retries = addNumber(QStringLiteral("Retries"), QStringLiteral("失败重试次数"), 0,
                          CrawlSettings::MaxRetries, crawl.retries);
    m_delay = addNumber(QStringLiteral("Delay"), QStringLiteral("请求间隔（毫秒）"), 0,
                        CrawlSettings::MaxDelayMs, crawl.delayMs);
    m_jitter = addNumber(QStringLiteral("Jitter"), QStringLiteral("随机增加（毫秒）"), 0,
                         CrawlSettings::MaxDelayMs, crawl.jitterMs);
    m_maxKeywords = addNumber(QStringLiteral("MaxKeywords"), QStringLiteral("最多查询关键词"), 0, many,
                              crawl.maxKeywords, QStringLiteral("不限"));
    m_maxDepth = addNumber(QStringLiteral("MaxDepth"), QStringLiteral("最大层级"), -1, many, crawl.maxDepth,
                           QStringLiteral("不限"));

    m_profileFile = new QLineEdit(values.profileFile);
    m_profileFile->setObjectName(QStringLiteral("ProfileFile"));
    m_profileFile->setPlaceholderText(QStringLiteral("内置"));
    auto *browse = new QPushButton(QStringLiteral("浏览…"));
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString chosen = QFileDialog::getOpenFileName(
            this, QStringLiteral("市场配置文件"), m_profileFile->text(), QStringLiteral("INI (*.ini)"));
        if (!chosen.isEmpty())
            m_profileFile->setText(chosen);
    });
    auto *profileRow = new QHBoxLayout;
    profileRow->addWidget(m_profileFile, 1);
    profileRow->addWidget(browse);
    m_form->addRow(QStringLiteral("市场配置文件"), profileRow);

    // Shown as dots: a signed-in session's cookie is a secret.
    m_cookie = new QLineEdit(QString::fromLatin1(values.cookie));
    m_cookie->setObjectName(QStringLiteral("Cookie"));
    m_cookie->setEchoMode(QLineEdit::Password);
    m_cookie->setPlaceholderText(QStringLiteral("从已登录的浏览器复制"));
    m_form->addRow(QStringLiteral("市场 Cookie"), m_cookie);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &SettingsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &SettingsDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(m_form);
    layout->addWidget(buttons);
}

QSpinBox *SettingsDialog::addNumber(const QString &name, const QString &label, int minimum, int maximum,
                                    int value, const QString &unlimited)
{
    auto *box = new QSpinBox;
    box->setObjectName(name);
    box->setRange(minimum, maximum);
    // The lowest value stands for no limit.
    box->setSpecialValueText(unlimited);
    box->setValue(value);
    m_form->addRow(label, box);
    return box;
}

SettingsDialog::Values SettingsDialog::values() const
{
    Values values;
    values.crawl.parallel = m_parallel->value();
    values.crawl.retries = m_retries->value();
    values.crawl.delayMs = m_delay->value();
    values.crawl.jitterMs = m_jitter->value();
    values.crawl.maxKeywords = m_maxKeywords->value();
    values.crawl.maxDepth = m_maxDepth->value();
    values.profileFile = m_profileFile->text().trimmed();
    values.cookie = m_cookie->text().toLatin1();
    return values;
}

void SettingsDialog::accept()
{
    try {
        if (const QString file = values().profileFile; !file.isEmpty())
            MarketProfile::fromFile(file);
    } catch (const AppError &error) {
        m_messages.showError(error);
        return;
    }
    QDialog::accept();
}
