#include "sc/card_service/apdu_writer.h"
#include "support/file_text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "sc/card_service/apdu_printer.h"
#include "sc/card_service/expected_status.h"
#include "sc/card_service/gp_apdu_writer.h"
#include "sc/card_service/jcshell_apdu_writer.h"
#include "sc/card_service/ruzo_apdu_writer.h"
#include "sc/card_service/skarna_apdu_writer.h"
#include "sc/exchange/capdu_rapdu.h"
#include "support/error_text.h"
#include "support/test_dir.h"
#include "support/vectors.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::ReadFile;

// A fresh file in the test's temporary directory, removed afterwards.
class LogFile {
public:
    explicit LogFile(const std::string& name) : m_path(test::TestDir() + "apdu_writer_" + name + "_" + TestName()) {
        std::filesystem::remove(m_path);
    }
    ~LogFile() { std::filesystem::remove(m_path); }
    const std::string& Path() const { return m_path; }
    std::string Text() const { return ReadFile(m_path); }

private:
    static std::string TestName() {
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char& c : name) {
            if (c == '/') c = '_';
        }
        return name;
    }

    std::string m_path;
};

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

struct FormatCase {
    int kind;
    const char* golden;
};

void PrintTo(const FormatCase& c, std::ostream* out) { *out << c.golden; }

class ApduLogFormat : public ::testing::TestWithParam<FormatCase> {};

TEST_P(ApduLogFormat, WritesTheRecordedSession) {
    LogFile file(GetParam().golden);
    {
        std::unique_ptr<BaseApduWriter> writer = BaseApduWriter::Create(GetParam().kind, file.Path(), 2);
        RunSession(*writer);
        // Every entry is on disk before the writer is gone.
        EXPECT_EQ(file.Text(), ReadFile(test::DataPath(std::string("apdu_log/session.") + GetParam().golden)));
    }
    EXPECT_EQ(file.Text(), ReadFile(test::DataPath(std::string("apdu_log/session.") + GetParam().golden)));
}

INSTANTIATE_TEST_SUITE_P(AllFormats, ApduLogFormat,
                         ::testing::Values(FormatCase{BaseApduWriter::Skarna, "skarna"},
                                           FormatCase{BaseApduWriter::GP, "gp"},
                                           FormatCase{BaseApduWriter::JCShell, "jcshell"},
                                           FormatCase{BaseApduWriter::Goznak, "goznak"},
                                           FormatCase{BaseApduWriter::Ruzo, "ruzo"}),
                         [](const auto& info) { return std::string(info.param.golden); });

TEST(ApduWriter, AppendsToAnExistingLog) {
    LogFile file("append");
    std::ofstream(file.Path()) << "earlier\n";
    BaseApduWriter::Create(BaseApduWriter::GP, file.Path(), 0)
        ->WriteApdu(CApdu(0x00, 0x84, 0x00, 0x00, 8), Response("9000"), ST_OK, SourcePlace());
    EXPECT_EQ(file.Text(), "earlier\n00 84 00 00 08\n\n");
}

TEST(ApduWriter, RefusesAnEmptyFileNameAnUnknownKindAndAFileThatCannotBeOpened) {
    LogFile file("kind");
    EXPECT_EQ(test::MessageOf([] { BaseApduWriter::Create(BaseApduWriter::Skarna, "", 2); }),
              "Пустое название файла для конвертированных APDU");
    for (int kind : {-1, 5}) {
        EXPECT_EQ(test::MessageOf([&] { BaseApduWriter::Create(kind, file.Path(), 2); }),
                  "Режим конвертации APDU задан некорректно")
            << kind;
    }
    const std::string path = test::TestDir() + "no_such_dir/apdu.log";
    const std::string error = test::MessageOf([&] { BaseApduWriter::Create(BaseApduWriter::Ruzo, path, 2); });
    EXPECT_NE(error.find("'" + path + "'"), std::string::npos) << error;
}

TEST(ApduWriter, DefaultFileNames) {
    EXPECT_EQ(BaseApduWriter::DefaultFileName(0), "skarna.log");
    EXPECT_EQ(BaseApduWriter::DefaultFileName(1), "gp.log");
    EXPECT_EQ(BaseApduWriter::DefaultFileName(2), "jcshell.log");
    EXPECT_EQ(BaseApduWriter::DefaultFileName(3), "goznak.log");
    EXPECT_EQ(BaseApduWriter::DefaultFileName(4), "ruzo.log");
    EXPECT_EQ(BaseApduWriter::DefaultFileName(5), "");
}

TEST(SkarnaApduWriter, ContinuesDataLinesAfterEvery16Bytes) {
    EXPECT_EQ(SkarnaApduWriter::ScriptHex(Counting(16)), "00 01 02 03  04 05 06 07  08 09 0A 0B  0C 0D 0E 0F");
    EXPECT_EQ(SkarnaApduWriter::ScriptHex(Counting(20)),
              "00 01 02 03  04 05 06 07  08 09 0A 0B  0C 0D 0E 0F\\\n10 11 12 13");
}

// Entries that the recorded session does not reach, one format detail each.
TEST(ApduWriter, FormatDetails) {
    const struct {
        const char* name;
        int kind;
        uint32_t verbose;
        void (*write)(BaseApduWriter&);
        const char* expected;
    } cases[] = {
        {"skarna: a variable at the start leaves only the rest in hex", BaseApduWriter::Skarna, 0,
         [](BaseApduWriter& w) {
             w.AddVariable("K", 0, 8);
             w.WriteApdu(CApdu(0x00, 0xDA, 0x01, 0x02, Counting(16)), Response("9000"), ST_ERR, SourcePlace());
         },
         "\ni 00 DA 01 02\\\n$K[8]\\\n08 09 0A 0B  0C 0D 0E 0F | ERR\n"},
        {"skarna: a variable past the data writes no bytes twice", BaseApduWriter::Skarna, 0,
         [](BaseApduWriter& w) {
             w.AddVariable("TAIL", 2, 10);
             w.WriteApdu(CApdu(0x00, 0xDA, 0x01, 0x02, Counting(4)), Response("9000"), ST_OK, SourcePlace());
         },
         "\ni 00 DA 01 02\\\n00 01\\\n$TAIL[10]\n"},
        {"skarna: verbose level 1 writes the name only", BaseApduWriter::Skarna, 1,
         [](BaseApduWriter& w) {
             w.WriteApdu(CApdu(0x00, 0xB0, 0x00, 0x00, 0xFF, Named("READ")), Response("9000"), ST_OK, Place("a", 3));
         },
         "\n; READ\no 00 B0 00 00 FF\n"},
        {"skarna: power off keeps the pending variable, power on drops it", BaseApduWriter::Skarna, 0,
         [](BaseApduWriter& w) {
             w.AddVariable("V", 0, 1);
             w.WritePowerOff();
             w.WriteApdu(CApdu(0x00, 0x01, 0x00, 0x00, Binary("AA")), Response("9000"), ST_OK, SourcePlace());
             w.AddVariable("V", 0, 1);
             w.WritePowerOn();
             w.WriteApdu(CApdu(0x00, 0x02, 0x00, 0x00, Binary("BB")), Response("9000"), ST_OK, SourcePlace());
         },
         "\noff\n\ni 00 01 00 00\\\n$V[1]\n\non\n\ni 00 02 00 00\\\nBB\n"},
        {"skarna: a suppressed marker is skipped once only", BaseApduWriter::Skarna, 0,
         [](BaseApduWriter& w) {
             w.SuppressNextMarker();
             w.WritePowerOff();
             w.WritePowerOff();
         },
         "\noff\n"},
        {"ruzo: power off keeps the comment, power on drops it", BaseApduWriter::Ruzo, 0,
         [](BaseApduWriter& w) {
             w.SetComment("r1");
             w.WritePowerOff();
             w.WriteApdu(CApdu(0x00, 0xB0, 0x00, 0x00, 2), Response("0102 9000"), ST_OK, SourcePlace());
             w.SetComment("r2");
             w.WritePowerOn();
             w.WriteApdu(CApdu(0x00, 0xB0, 0x00, 0x00, 2), Response("0102 9000"), ST_OK, SourcePlace());
         },
         "off\n00 B0 00 00 02\nB0 $r1=  90 00\n\non\n00 B0 00 00 02\nB0 01 02  90 00\n\n"},
        {"ruzo: a command with data and a two-byte response", BaseApduWriter::Ruzo, 0,
         [](BaseApduWriter& w) {
             const CApdu command(0x80, 0x10, 0x00, 0x00, Binary("55"));
             w.WriteApdu(command, Response("ABCD 9000"), ST_OK, SourcePlace());
             w.SetComment("name");
             w.WriteApdu(command, Response("ABCD 9000"), ST_OK, SourcePlace());
         },
         "80 10 00 00 01\n10\n55\n61 02\n00 C0 00 00 02\nC0 AB CD 90 00\n\n"
         "80 10 00 00 01\n10\n55\n61 02\n00 C0 00 00 02\nC0 $name= 90 00\n\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LogFile file(std::to_string(&c - cases));
        c.write(*BaseApduWriter::Create(c.kind, file.Path(), c.verbose));
        EXPECT_EQ(file.Text(), c.expected);
    }
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
        LogFile file(std::to_string(&command - commands));
        JCShellApduWriter(file.Path()).WriteApdu(command, Response("9000"), ST_ANY, SourcePlace());
        const std::string text = file.Text();
        ASSERT_EQ(text.rfind("# \nsend ", 0), 0u) << text;
        const CApdu decoded(Binary(text.substr(8)));
        EXPECT_EQ(decoded.GetCase(), command.GetCase());
        EXPECT_EQ(decoded.data, command.data);
        EXPECT_EQ(decoded.ne, command.ne);
    }
}

TEST(JCShellApduWriter, RefusesStErrAndWritesNothingForTheEntry) {
    LogFile file("jcshell_err");
    JCShellApduWriter writer(file.Path());
    EXPECT_EQ(test::MessageOf([&] {
                  writer.WriteApdu(CApdu(0x00, 0xA4, 0x00, 0x00, Binary("3F00"), 0, Named("SELECT")), Response("6A82"),
                                   ST_ERR, Place("s", 1));
              }),
              "Невозможно конвертировать статус ST_ERR в язык JCShell. Замените статус.");
    writer.WriteApdu(CApdu(0x00, 0xA4, 0x00, 0x00, Binary("3F00")), Response("9000"), 0x9000, SourcePlace());
    EXPECT_EQ(file.Text(), "# \nsend 00A40000023F00 9000\n\n");
}

TEST(GPApduWriter, VerboseLevelZeroOrNoPrinterWritesNoComment) {
    LogFile file("gp_quiet");
    {
        GPApduWriter quiet(file.Path(), 0);
        quiet.WriteApdu(CApdu(0x00, 0xA4, 0x04, 0x00, Binary("A0000001510000"), 0, Named("SELECT")), Response("9000"),
                        ST_OK, SourcePlace());
    }
    GoznakApduWriter verbose(file.Path(), 1);
    verbose.WriteApdu(CApdu(0x00, 0xA4, 0x04, 0x00, Binary("A0000001510000")), Response("9000"), ST_OK, SourcePlace());
    verbose.WriteApdu(CApdu(0x00, 0xA4, 0x04, 0x00, Binary("A0000001510000"), 0, Named("SELECT")), Response("9000"),
                      ST_OK, SourcePlace());
    EXPECT_EQ(file.Text(),
              "00 A4 04 00 07 A0 00 00 01 51 00 00\n\n"
              "00 A4 04 00 07 A0 00 00 01 51 00 00\n\n"
              "# SELECT\n00 A4 04 00 07 A0 00 00 01 51 00 00\n\n");
}

}  // namespace
}  // namespace ZORVIK
