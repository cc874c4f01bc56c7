// A caller's first bytes and what its router sends after them, as anyone who
// reaches the listening port may send them: identification and the reply
// filter must never crash, never take a caller for a station whose ID its
// bytes do not hold.
#include "callin/caller_identification.h"
#include "callin/reply_filter.h"
#include "link/crc16.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char *>(data + 2), int(size - 2));
    using ostrand::callin::CallerIdentification;
    const std::vector<ostrand::callin::CallerKey> keys{
        {0, "north-1", std::nullopt}, {1, QByteArray::fromHex("00ff"), std::nullopt}, {2, "south", std::nullopt}};
    const CallerIdentification identification(keys, {"PING", QByteArray::fromHex("0000")});
    const QHostAddress from("192.0.2.1");
    const auto verdict = identification.onBytes(bytes.left(data[0]), from);
    if (verdict.kind == CallerIdentification::Verdict::Kind::Known
        && !bytes.left(data[0]).contains(keys[size_t(verdict.station)].id))
        std::abort();

    // The rest through the filter, cut into reads where the second byte says.
    ostrand::callin::ReplyFilter filter(data[1] & 1 ? QByteArray("PING") : QByteArray(),
                                        data[1] & 2 ? QByteArray("north-1") : QByteArray());
    const int words = 1 + data[1] % 60;
    filter.expect(ostrand::appendCrc(QByteArray::fromHex("01600a000000") + QByteArray(1, char(words))));
    std::int64_t now = 0;
    int handed = 0;
    const int step = 1 + (data[1] >> 2);
    for (int at = data[0]; at < bytes.size(); at += step) {
        filter.feed(bytes.mid(at, step), now += 7);
        handed += filter.take(filter.available(now), now).size();
    }
    (void)handed;
    return 0;
}
