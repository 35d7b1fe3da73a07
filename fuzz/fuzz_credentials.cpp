// info.dat as any bytes a damaged or hand-edited file may hold, and the
// round trip of what save writes.
#include "login/credentials.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray contents(reinterpret_cast<const char *>(data), qsizetype(size));
    const Credentials read = Credentials::fromBytes(contents);
    if (read.state != Credentials::State::Remembered &&
        (!read.userName.isEmpty() || !read.password.isEmpty()))
        abort();

    // The input split at its first zero byte into a user name and a password:
    // any two without line ends or zero bytes come back as they were saved.
    const qsizetype split = contents.indexOf('\0');
    const QByteArray userName = split < 0 ? contents : contents.left(split);
    const QByteArray password = split < 0 ? QByteArray() : contents.mid(split + 1);
    const auto plain = [](const QByteArray &field) {
        return !field.contains('\r') && !field.contains('\n') && !field.contains('\0');
    };
    if (plain(userName) && plain(password)) {
        const Credentials saved = Credentials::fromBytes(Credentials::toBytes(true, userName, password));
        if (saved.state != Credentials::State::Remembered || saved.userName != userName ||
            saved.password != password)
            abort();
    }
    if (Credentials::fromBytes(Credentials::toBytes(false, userName, password)).state !=
        Credentials::State::Forgotten)
        abort();
    return 0;
}
