// The account-service exchange fed from a buffer: status lines, headers,
// chunked, length- and close-delimited bodies, interim answers, cookies and
// redirect decisions, all from bytes no server is trusted to get right.
#include "net/accountrequest.h"

#include <cstdint>
#include <cstdlib>

namespace {

// Hands the input out in pieces of a size set by its first byte, so lines and
// chunks also arrive split; the end of the input is the peer's close. Every
// connection of the call reads on from the same input.
class BufferTransport final : public AccountTransport
{
public:
    explicit BufferTransport(QByteArrayView input)
        : m_piece(input.isEmpty() ? 1 : 1 + uint8_t(input[0]) % 64),
          m_input(input.sliced(input.isEmpty() ? 0 : 1))
    {
    }

    int requests() const { return m_requests; }

    void open(const QByteArray &host, quint16 port, std::chrono::milliseconds) override
    {
        m_host = host;
        m_port = port;
    }
    bool isOpenTo(const QByteArray &host, quint16 port) const override
    {
        return !m_input.isEmpty() && host == m_host && port == m_port;
    }
    void write(const QByteArray &request) override
    {
        if (!request.startsWith("GET ") || !request.endsWith("\r\n\r\n"))
            abort();
        ++m_requests;
    }
    Received receive(QByteArray &buffer, std::chrono::milliseconds) override
    {
        if (m_input.isEmpty())
            return Received::Closed;
        const QByteArrayView piece = m_input.first(std::min(m_piece, m_input.size()));
        buffer.append(piece);
        m_input = m_input.sliced(piece.size());
        return Received::Bytes;
    }

private:
    qsizetype m_piece;
    QByteArrayView m_input;
    QByteArray m_host;
    quint16 m_port = 0;
    int m_requests = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    AccountRequest::Settings settings;
    settings.maxBodyBytes = 1 << 20;
    settings.maxHeaderBytes = 64 * 1024;
    BufferTransport transport(QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size)));
    try {
        const QByteArray body = AccountRequest(settings).get(
            "http://127.0.0.1:8080/click_user.asp?user=u&pass=p&softname=Tolvanic", transport);
        if (body.size() > settings.maxBodyBytes)
            abort();
    } catch (const AccountRequestError &error) {
        if (error.body().size() > settings.maxBodyBytes)
            abort();
    }
    if (transport.requests() > settings.maxRequests)
        abort();
    return 0;
}
