// The account service's profile answer: any bytes a server may send back,
// read the way the login reads them.
#include "common/apperror.h"
#include "login/profileanswer.h"
#include "login/usersession.h"
#include "text/bytetext.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray answer(reinterpret_cast<const char *>(data), qsizetype(size));
    UserSession session;
    try {
        const bool accepted = readProfileAnswer(text::splitLines(answer), session);
        if (accepted != (session.userinfo().size() == 11))
            abort();
    } catch (const AppError &) {
        // A refused answer is an error for the user, not a fault.
        if (session.userinfo().size() >= 11)
            abort();
    }
    return 0;
}
