#pragma once

#include <QByteArray>
#include <QList>

class UserSession;

// Reads the account service's profile answer, given as its lines (CR LF is
// put back between them for the XML parser). Returns false for a refusal: no
// answer, or one without an XML declaration. On an accepted answer the
// eleven profile fields are appended to the session's userinfo, as GBK bytes
// in document order. Throws AppError when the answer is not well-formed XML
// or a field is missing; the fields read before it stay appended.
bool readProfileAnswer(const QList<QByteArray> &answerLines, UserSession &session);
