// Fuzzes the reply parser and the passive reply parsers. The first byte
// chooses a chunk size: the replies must not depend on how the bytes were
// split, and they must respect the parser's bounds.
#include "ftp/passivereply.h"
#include "ftp/replyparser.h"

#include <cstdint>
#include <cstdlib>

namespace {

QList<FtpReply> parse(const char *data, qint64 size, qint64 chunk, bool *error)
{
    FtpReplyParser parser;
    QList<FtpReply> replies;
    for (qint64 pos = 0; pos < size; pos += chunk) {
        parser.addData(data + pos, qMin(chunk, size - pos));
        while (parser.hasReply())
            replies.append(parser.takeReply());
    }
    *error = parser.hasError();
    return replies;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const qint64 chunk = 1 + data[0] % 17;
    const char *bytes = reinterpret_cast<const char *>(data + 1);
    const qint64 length = qint64(size) - 1;

    bool wholeError = false, chunkedError = false;
    const QList<FtpReply> whole = parse(bytes, length, qMax<qint64>(length, 1), &wholeError);
    const QList<FtpReply> chunked = parse(bytes, length, chunk, &chunkedError);
    if (whole.size() != chunked.size() || wholeError != chunkedError)
        abort();
    for (int i = 0; i < whole.size(); ++i) {
        const FtpReply &reply = whole[i];
        if (reply.code != chunked[i].code || reply.text != chunked[i].text)
            abort();
        if (reply.code < 100 || reply.code > 599)
            abort();
        if (reply.text.size() > FtpReplyParser::maxReplySize)
            abort();
        quint16 port = 0;
        if (parsePassiveReply(reply.text, &port) && port == 0)
            abort();
        if (parseExtendedPassiveReply(reply.text, &port) && port == 0)
            abort();
    }
    return 0;
}
