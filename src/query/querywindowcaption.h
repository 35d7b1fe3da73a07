#pragma once

#include <QString>

class UserSession;

// The query window's caption once it has been activated: the account name,
// points and e-mail address of the profile (its lines 1, 6 and 7).
QString queryWindowCaption(const UserSession &session);
