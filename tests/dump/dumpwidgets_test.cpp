#include "dump/dumpwidgets.h"
#include "dump/sectordump.h"

#include <QLabel>
#include <QLineEdit>
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace
{

class DumpSector : public ::testing::Test
{
protected:
    DumpSector()
    {
        text1.setFont(QFont(QStringLiteral("IPAPGothic"), 12));
        text1.setText(QStringLiteral("/home/photos/"));
    }

    void expectCourierEight()
    {
        EXPECT_EQ(text1.font().family(), QStringLiteral("Courier"));
        EXPECT_EQ(text1.font().pointSize(), 8);
    }

    QLineEdit text1;
    QLabel label3;
};

TEST_F(DumpSector, ShowsAsManyBytesAsLabel3Reads)
{
    std::vector<std::uint8_t> sector(512);
    for (std::size_t i = 0; i < sector.size(); ++i)
        sector[i] = std::uint8_t(i);
    const QString whole = QString::fromStdString(velo::sectorDump(sector, 511));
    // Read as display fields are: blanks skipped anywhere, trailing text ignored.
    for (const char* label : {" 512", "5 1 2 bytes"}) {
        label3.setText(QLatin1String(label));
        velo::dumpSector(text1, label3, &sector);
        EXPECT_EQ(text1.text(), whole) << label;
    }
    expectCourierEight();
    EXPECT_TRUE(whole.endsWith(QStringLiteral("FE FF  ") + QString(16, u'.') + "\r\n"));
}

TEST_F(DumpSector, KeepsALongDumpWhole)
{
    // 16 sectors' worth of lines is longer than a line edit's default limit.
    std::vector<std::uint8_t> sector(8192, 0x30);
    label3.setText(QStringLiteral("8192"));
    velo::dumpSector(text1, label3, &sector);
    EXPECT_EQ(text1.text().size(), 256 * 71 + 256 * 72);
}

// Label texts whose number is zero or missing: no line, and the field ends up empty,
// even with no buffer, since no line asks for a byte.
class DumpSectorNoNumber : public DumpSector, public ::testing::WithParamInterface<const char*>
{
};

TEST_P(DumpSectorNoNumber, EmptiesText1)
{
    label3.setText(QString::fromUtf8(GetParam()));
    velo::dumpSector(text1, label3, nullptr);
    EXPECT_EQ(text1.text(), QString());
    expectCourierEight();
}

INSTANTIATE_TEST_SUITE_P(Labels, DumpSectorNoNumber,
                         ::testing::Values("", "0", " 0", "bytes", "-16", "   "),
                         [](const auto& info) { return "label" + std::to_string(info.index); });

struct MissingBytes {
    const char* label;
    int bufferSize; // -1: never allocated
};

class DumpSectorOutOfRange : public DumpSector, public ::testing::WithParamInterface<MissingBytes>
{
};

TEST_P(DumpSectorOutOfRange, ThrowsAndLeavesTheTextButNotTheFont)
{
    const MissingBytes run = GetParam();
    std::vector<std::uint8_t> sector(std::max(run.bufferSize, 0), 0x41);
    label3.setText(QString::fromUtf8(run.label));
    EXPECT_THROW(velo::dumpSector(text1, label3, run.bufferSize < 0 ? nullptr : &sector),
                 std::out_of_range);
    EXPECT_EQ(text1.text(), QStringLiteral("/home/photos/"));
    expectCourierEight();
}

INSTANTIATE_TEST_SUITE_P(Buffers, DumpSectorOutOfRange,
                         ::testing::Values(MissingBytes{" 512", -1}, MissingBytes{"1", 0},
                                           MissingBytes{" 512", 511}, MissingBytes{" 100", 100}),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

} // namespace
