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
        QFont font(QStringLiteral("IPAPGothic"));
        font.setPointSize(12);
        text1.setFont(font);
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

TEST_F(DumpSector, ShowsTheCountInLabel3)
{
    std::vector<std::uint8_t> sector(512);
    for (std::size_t i = 0; i < sector.size(); ++i)
        sector[i] = std::uint8_t(i);
    label3.setText(QStringLiteral(" 512"));
    velo::dumpSector(text1, label3, &sector);
    expectCourierEight();
    EXPECT_EQ(text1.text(), QString::fromStdString(velo::sectorDump(sector, 511)));
    EXPECT_TRUE(text1.text().startsWith(QStringLiteral("000 00 01 02")));
    EXPECT_TRUE(text1.text().endsWith(QStringLiteral("FE FF  ") + QString(16, u'.') +
                                      QStringLiteral("\r\n")));
}

TEST_F(DumpSector, KeepsALongDumpWhole)
{
    // 16 sectors' worth of lines is longer than a line edit's default limit.
    std::vector<std::uint8_t> sector(8192, 0x30);
    label3.setText(QStringLiteral("8192"));
    velo::dumpSector(text1, label3, &sector);
    EXPECT_EQ(text1.text().size(), 256 * 71 + 256 * 72);
    EXPECT_TRUE(text1.text().endsWith(QStringLiteral("0000000000000000\r\n")));
}

// Label texts whose number is zero or missing: no line, and the field ends up empty.
class DumpSectorNoNumber : public DumpSector, public ::testing::WithParamInterface<const char*>
{
};

TEST_P(DumpSectorNoNumber, EmptiesText1)
{
    label3.setText(QString::fromUtf8(GetParam()));
    velo::dumpSector(text1, label3, nullptr); // no buffer needed when there is no line
    EXPECT_EQ(text1.text(), QString());
    expectCourierEight();
}

INSTANTIATE_TEST_SUITE_P(Labels, DumpSectorNoNumber,
                         ::testing::Values("", "0", " 0", "bytes", "-16", "   "),
                         [](const auto& info) { return "label" + std::to_string(info.index); });

TEST_F(DumpSector, TakesTheLeadingDigitsOfLabel3)
{
    std::vector<std::uint8_t> sector(64, 0x41);
    label3.setText(QStringLiteral(" 3 2 bytes")); // blanks inside are skipped: 32
    velo::dumpSector(text1, label3, &sector);
    EXPECT_EQ(text1.text().count(QStringLiteral("\r\n")), 2);
}

struct MissingBytes {
    const char* label;
    std::size_t bufferSize; // 0 with noBuffer: never allocated
    bool noBuffer;
};

class DumpSectorOutOfRange : public DumpSector, public ::testing::WithParamInterface<MissingBytes>
{
};

TEST_P(DumpSectorOutOfRange, ThrowsAndLeavesTheTextButNotTheFont)
{
    const MissingBytes run = GetParam();
    std::vector<std::uint8_t> sector(run.bufferSize, 0x41);
    label3.setText(QString::fromUtf8(run.label));
    EXPECT_THROW(velo::dumpSector(text1, label3, run.noBuffer ? nullptr : &sector),
                 std::out_of_range);
    EXPECT_EQ(text1.text(), QStringLiteral("/home/photos/"));
    expectCourierEight();
}

INSTANTIATE_TEST_SUITE_P(Buffers, DumpSectorOutOfRange,
                         ::testing::Values(MissingBytes{" 512", 0, true},
                                           MissingBytes{"1", 0, false},
                                           MissingBytes{" 512", 511, false},
                                           MissingBytes{" 100", 100, false}),
                         [](const auto& info) {
                             return info.param.noBuffer
                                        ? std::string("noBuffer")
                                        : "buffer" + std::to_string(info.param.bufferSize);
                         });

} // namespace
