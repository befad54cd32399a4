#include "dump/dumpwidgets.h"

#include "dump/sectordump.h"
#include "fields/fieldtext.h"

#include <QFont>
#include <QLabel>
#include <QLineEdit>

namespace velo
{

void dumpSector(QLineEdit& text1, const QLabel& label3,
                const std::vector<std::uint8_t>* sectorBuffer)
{
    // Size first, then face: the field keeps both even when the dump below fails.
    QFont font = text1.font();
    font.setPointSize(8);
    text1.setFont(font);
    font = text1.font();
    font.setFamily(QStringLiteral("Courier"));
    text1.setFont(font);

    const std::int64_t count = fieldNumber(label3.text().toStdString());
    // count - 1 as the last offset; any count below 1 means no line (and avoids the
    // overflow of the lowest number minus one).
    const std::int64_t lastOffset = count > 0 ? count - 1 : -1;
    std::span<const std::uint8_t> bytes;
    if (sectorBuffer != nullptr)
        bytes = *sectorBuffer;
    const QString dump = QString::fromStdString(sectorDump(bytes, lastOffset));

    // A line edit cuts its text at maxLength (32767 by default), which a dump of more
    // than 28 sectors' worth of lines passes; the dump must arrive whole.
    if (dump.size() > text1.maxLength())
        text1.setMaxLength(static_cast<int>(dump.size()));
    text1.setText(dump);
}

} // namespace velo
