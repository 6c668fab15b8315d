#include "sc/card_service/apdu_writer.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "sc/card_service/apdu_printer.h"
#include "sc/card_service/expected_status.h"
#include "sc/card_service/jcshell_apdu_writer.h"
#include "sc/exchange/capdu_rapdu.h"
#include "support/error_text.h"
#include "support/file_text.h"
#include "support/test_dir.h"
#include "support/vectors.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::ReadFile;

SourcePlace Place(const char* file, int32_t line) {
    SourcePlace place;
    place.file = file;
    place.line = line;
    return place;
}

RApdu Response(const char* hex) { return RApdu(Binary(hex)); }

std::shared_ptr<I_APDU_Printer> Named(const char* name) { return std::make_shared<StandardPrinter>(name); }

Binary Counting(size_t count) {
    Binary data;
    for (size_t i = 0; i < count; ++i) data.push_back(static_cast<uint8_t>(i));
    return data;
}

// One recorded session: power on, the four ISO/IEC 7816-3 cases and an extended
// command, variables, a call, comments, script places, suppressed entries, a
// reset and power off. The expected logs in tests/data/apdu_log were written by
// hand from the format descriptions.
void RunSession(BaseApduWriter& writer) {
    writer.WritePowerOn();
    writer.WriteApdu(CApdu(0x80, 0xCA, 0x00, 0x00, 0, Named("GET DATA")), Response("9000"), ST_OK, SourcePlace());
    writer.SetComment("buf");
    writer.WriteApdu(CApdu(0x00, 0xB0, 0x00, 0x00, 0x10), Response("000102030405060708090A0B0C0D0E0F 9000"), 0x9000,
                     SourcePlace());
    writer.WriteApdu(CApdu(0x00, 0xA4, 0x04, 0x00, Binary("A0 00 00 01 51 00 00 00"), 0, Named("SELECT")),
                     Response("6A82"), ST_ANY, Place("../scripts/personal.skarna", 7));
    writer.AddVariable("KEY", 4, 8);
    writer.SetSource("sig", "Sign", {"KEY", "MSG"});
    writer.SetComment("sig");
    writer.WriteApdu(CApdu(0x80, 0x2A, 0x9E, 0x9A, Counting(20), 256, Named("PSO")), Response("11223344 9000"), ST_OK,
                     SourcePlace());
    writer.WriteReset();
    writer.WriteApdu(CApdu(0x00, 0xD6, 0x00, 0x00, Binary("01 02 03 04"), 0, true), Response("6A82"), 0x6A82,
                     Place("test.skarna", 12));
    writer.SuppressNextMarker();
    writer.WriteReset();
    writer.SuppressNextMarker();
    writer.WriteApdu(CApdu(0x00, 0xCA, 0x9F, 0x7F, 0x2D), Response("AABB 9000"), ST_OK, SourcePlace());
    writer.WriteApdu(CApdu(0x80, 0xCA, 0x9F, 0x7F, 3), Response("010203 9000"), ST_OK, SourcePlace());
    writer.WriteApdu(CApdu(0x00, 0xB0, 0x00, 0x00, 256), Response("6282"), 0x6282, SourcePlace());
    writer.SetComment("keep");
    writer.WritePowerOff();
}

class ApduLogFormat : public ::testing::TestWithParam<std::pair<int, const char*>> {};

TEST_P(ApduLogFormat, WritesTheRecordedSession) {
    const std::string path = test::TestDir() + "session.log";
    const std::string golden = ReadFile(test::DataPath(std::string("apdu_log/session.") + GetParam().second));
    {
        std::unique_ptr<BaseApduWriter> writer = BaseApduWriter::Create(GetParam().first, path, 2);
        RunSession(*writer);
        EXPECT_EQ(ReadFile(path), golden);  // every entry is on disk before the writer is gone
    }
    EXPECT_EQ(ReadFile(path), golden);
}

INSTANTIATE_TEST_SUITE_P(AllFormats, ApduLogFormat,
                         ::testing::Values(std::pair{BaseApduWriter::Skarna, "skarna"},
                                           std::pair{BaseApduWriter::GP, "gp"},
                                           std::pair{BaseApduWriter::JCShell, "jcshell"},
                                           std::pair{BaseApduWriter::Goznak, "goznak"},
                                           std::pair{BaseApduWriter::Ruzo, "ruzo"}),
                         [](const auto& info) { return std::string(info.param.second); });

TEST(ApduWriter, RefusesAnEmptyFileNameAnUnknownKindAndAFileThatCannotBeOpened) {
    const std::string path = test::TestDir() + "apdu.log";
    EXPECT_EQ(test::MessageOf([] { BaseApduWriter::Create(BaseApduWriter::Skarna, "", 2); }),
              "Пустое название файла для конвертированных APDU");
    for (int kind : {-1, 5}) {
        EXPECT_EQ(test::MessageOf([&] { BaseApduWriter::Create(kind, path, 2); }),
                  "Режим конвертации APDU задан некорректно")
            << kind;
    }
    const std::string missing = test::TestDir() + "no_such_dir/apdu.log";
    EXPECT_TRUE(test::Contains(test::MessageOf([&] { BaseApduWriter::Create(BaseApduWriter::Ruzo, missing, 2); }),
                               "'" + missing + "'"));
    std::string names;
    for (int kind = 0; kind <= 5; ++kind) names += BaseApduWriter::DefaultFileName(kind) + ";";
    EXPECT_EQ(names, "skarna.log;gp.log;jcshell.log;goznak.log;ruzo.log;;");
}

// Entries that the recorded session does not reach.
TEST(ApduWriter, FormatDetails) {
    const SourcePlace nowhere;
    const std::string path = test::TestDir() + "apdu.log";
    // Verbose level 1 writes the name only.
    BaseApduWriter::Create(BaseApduWriter::Skarna, path, 1)
        ->WriteApdu(CApdu(0x00, 0xB0, 0x00, 0x00, 0xFF, Named("READ")), Response("9000"), ST_OK, Place("a", 3));
    EXPECT_EQ(ReadFile(path), "\n; READ\no 00 B0 00 00 FF\n");
    // The log is appended to; at verbose level 0 no comment is written.
    BaseApduWriter::Create(BaseApduWriter::GP, path, 0)
        ->WriteApdu(CApdu(0x00, 0xA4, 0x04, 0x00, Binary("A000"), 0, Named("SELECT")), Response("9000"), ST_OK,
                    nowhere);
    EXPECT_EQ(ReadFile(path), "\n; READ\no 00 B0 00 00 FF\n00 A4 04 00 02 A0 00\n\n");
    // JCShell cannot express ST_ERR, and leaves no half entry.
    std::filesystem::remove(path);
    JCShellApduWriter jcshell(path);
    const CApdu select(0x00, 0xA4, 0x00, 0x00, Binary("3F00"));
    EXPECT_EQ(test::MessageOf([&] { jcshell.WriteApdu(select, Response("6A82"), ST_ERR, nowhere); }),
              "Невозможно конвертировать статус ST_ERR в язык JCShell. Замените статус.");
    jcshell.WriteApdu(select, Response("9000"), 0x9000, nowhere);
    EXPECT_EQ(ReadFile(path), "# \nsend 00A40000023F00 9000\n\n");
}

TEST(JCShellApduWriter, EverySendLineDecodesBackToTheCommandSent) {
    const CApdu commands[] = {
        CApdu(0x00, 0xB0, 0x00, 0x00, 256),                       // case 2 short, Le 00
        CApdu(0x00, 0xB0, 0x00, 0x00, 300),                       // case 2 extended
        CApdu(0x00, 0xB0, 0x00, 0x00, 65536),                     // Le 00 00 00
        CApdu(0x00, 0xD6, 0x00, 0x00, Binary("0102")),            // case 3 short
        CApdu(0x00, 0xD6, 0x00, 0x00, Binary(300, 0x5A)),         // case 3 extended
        CApdu(0x00, 0xD6, 0x00, 0x00, Binary("0102"), 0, true),   // extended by its flag
        CApdu(0x00, 0x2A, 0x80, 0x86, Binary("0102"), 256),       // case 4 short
        CApdu(0x00, 0x2A, 0x80, 0x86, Binary("0102"), 0x300),     // case 4 extended
        CApdu(0x00, 0x2A, 0x80, 0x86, Binary(300, 0x5A), 65536),  // Le 00 00
    };
    for (const CApdu& command : commands) {
        SCOPED_TRACE(binary::ToHex(command.Encode(), 0));
        const std::string path = test::TestDir() + std::to_string(&command - commands) + ".log";
        JCShellApduWriter(path).WriteApdu(command, Response("9000"), ST_ANY, SourcePlace());
        const std::string text = ReadFile(path);
        ASSERT_EQ(text.rfind("# \nsend ", 0), 0u) << text;
        const CApdu decoded(Binary(text.substr(8)));
        EXPECT_EQ(decoded.GetCase(), command.GetCase());
        EXPECT_EQ(decoded.data, command.data);
        EXPECT_EQ(decoded.ne, command.ne);
    }
}

}  // namespace
}  // namespace ZORVIK
