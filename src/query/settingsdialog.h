#pragma once

#include "query/crawlsettings.h"

#include <QByteArray>
#include <QDialog>
#include <QString>

class QLineEdit;
class QSpinBox;
class UserMessages;

// 设置: how batches walk the marketplace (parallel fetches, retries, delay,
// limits), the market profile file and the marketplace cookie. OK refuses a
// profile file that does not load, naming its line and key.
class SettingsDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SettingsDialog)

public:
    struct Values
    {
        CrawlSettings crawl;
        QString profileFile; // empty: QUILLMARSH_MARKET_PROFILE, else the built-in profile
        QByteArray cookie;
    };

    SettingsDialog(const Values &values, UserMessages &messages, QWidget *parent = nullptr);

    Values values() const;

    void accept() override;

private:
    QSpinBox *addNumber(const QString &name, const QString &label, int minimum, int maximum, int value,
                        const QString &unlimited = {});

    UserMessages &m_messages;
    class QFormLayout *m_form;
    QSpinBox *m_parallel;
    QSpinBox *m_retries;
    QSpinBox *m_delay;
    QSpinBox *m_jitter;
    QSpinBox *m_maxKeywords;
    QSpinBox *m_maxDepth;
    QLineEdit *m_profileFile;
    QLineEdit *m_cookie;
};
