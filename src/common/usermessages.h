#pragma once

#include "common/apperror.h"

#include <QString>

// The program's modal message boxes, behind one small interface so the core
// never touches widgets and tests can record what the user would have seen.
class UserMessages
{
public:
    virtual ~UserMessages() = default;

    // Application title as caption, no icon, one OK button.
    void showPlain(const QString &text) { plainBox(text); }
    // The standard error box: application title, stop icon, one OK button.
    void showError(const QString &message) { errorBox(errorBoxText(message)); }
    void showError(const AppError &error) { showError(error.message()); }
    // The login window's skinned box: caption "Information", information icon, one "OK".
    void showInformation(const QString &text) { informationBox(text); }

protected:
    virtual void plainBox(const QString &text) = 0;
    virtual void errorBox(const QString &text) = 0;
    virtual void informationBox(const QString &text) = 0;
};
