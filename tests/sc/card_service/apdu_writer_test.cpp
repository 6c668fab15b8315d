// APDU logs in their five formats, and the printers of the console and the log.
#include "sc/card_service/apdu_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <tuple>
#include <vector>

#include "sc/card_service/apdu_printer.h"
#include "sc/card_service/expected_status.h"
#include "sc/card_service/jcshell_apdu_writer.h"
#include "sc/card_service/skarna_apdu_writer.h"
#include "sc/card_service/tlv_printer.h"
#include "sc/exchange/capdu_rapdu.h"
#include "service/log/log.h"
#include "service/log/recording_log.h"
#include "support/error_text.h"
#include "support/file_text.h"
#include "support/processes.h"
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
    writer.WriteApdu(
        CApdu(0x80, 0x2A, 0x9E, 0x9A, Binary("000102030405060708090A0B0C0D0E0F10111213"), 256, Named("PSO")),
        Response("11223344 9000"), ST_OK, SourcePlace());
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

TEST(ApduLogFormat, WritesTheRecordedSession) {
    const std::pair<int, const char*> formats[] = {{BaseApduWriter::Skarna, "skarna"},
                                                   {BaseApduWriter::GP, "gp"},
                                                   {BaseApduWriter::JCShell, "jcshell"},
                                                   {BaseApduWriter::Goznak, "goznak"},
                                                   {BaseApduWriter::Ruzo, "ruzo"}};
    for (const auto& [kind, name] : formats) {
        SCOPED_TRACE(name);
        const std::string path = test::TestDir() + name + ".log";
        const std::string golden = ReadFile(test::DataPath(std::string("apdu_log/session.") + name));
        {
            std::unique_ptr<BaseApduWriter> writer = BaseApduWriter::Create(kind, path, 2);
            RunSession(*writer);
            EXPECT_EQ(ReadFile(path), golden);  // every entry is on disk before the writer is gone
        }
        EXPECT_EQ(ReadFile(path), golden);
    }
}

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
    // A reset forgets the call announced for the next command.
    std::filesystem::remove(path);
    {
        std::unique_ptr<BaseApduWriter> ruzo = BaseApduWriter::Create(BaseApduWriter::Ruzo, path, 2);
        ruzo->SetSource("sig", "Sign", {"KEY"});
        ruzo->WriteReset();
        ruzo->WriteApdu(CApdu("80CA0000"), Response("9000"), ST_OK, nowhere);
    }
    const std::string afterReset = ReadFile(path);
    EXPECT_TRUE(test::Contains(afterReset, "80 CA 00 00")) << afterReset;
    EXPECT_FALSE(test::Contains(afterReset, "Sign")) << afterReset;
}

Binary Counting(size_t count) {
    Binary data;
    for (size_t i = 0; i < count; ++i) data.push_back(static_cast<uint8_t>(i));
    return data;
}

// Entries of one format detail each, that the recorded session does not reach.
TEST(ApduWriter, EntriesOfOneFormatDetailEach) {
    using W = BaseApduWriter;
    const std::tuple<int, void (*)(W&), const char*> cases[] = {
        // Skarna: a variable at the start leaves only the rest in hex.
        {W::Skarna,
         [](W& w) {
             w.AddVariable("K", 0, 8);
             w.WriteApdu(CApdu(0x00, 0xDA, 0x01, 0x02, Counting(16)), Response("9000"), ST_ERR, SourcePlace());
         },
         "\ni 00 DA 01 02\\\n$K[8]\\\n08 09 0A 0B  0C 0D 0E 0F | ERR\n"},
        // Skarna: a variable reaching past the data writes no byte twice.
        {W::Skarna,
         [](W& w) {
             w.AddVariable("TAIL", 2, 10);
             w.WriteApdu(CApdu(0x00, 0xDA, 0x01, 0x02, Counting(4)), Response("9000"), ST_OK, SourcePlace());
         },
         "\ni 00 DA 01 02\\\n00 01\\\n$TAIL[10]\n"},
        // Skarna: power off keeps the pending variable, power on drops it.
        {W::Skarna,
         [](W& w) {
             w.AddVariable("V", 0, 1);
             w.WritePowerOff();
             w.WriteApdu(CApdu(0x00, 0x01, 0x00, 0x00, Binary("AA")), Response("9000"), ST_OK, SourcePlace());
             w.AddVariable("V", 0, 1);
             w.WritePowerOn();
             w.WriteApdu(CApdu(0x00, 0x02, 0x00, 0x00, Binary("BB")), Response("9000"), ST_OK, SourcePlace());
         },
         "\noff\n\ni 00 01 00 00\\\n$V[1]\n\non\n\ni 00 02 00 00\\\nBB\n"},
        // Skarna: a suppressed marker is left out once only.
        {W::Skarna,
         [](W& w) {
             w.SuppressNextMarker();
             w.WritePowerOff();
             w.WritePowerOff();
         },
         "\noff\n"},
        // Ruzo: power off keeps the comment, power on drops it.
        {W::Ruzo,
         [](W& w) {
             w.SetComment("r1");
             w.WritePowerOff();
             w.WriteApdu(CApdu(0x00, 0xB0, 0x00, 0x00, 2), Response("0102 9000"), ST_OK, SourcePlace());
             w.SetComment("r2");
             w.WritePowerOn();
             w.WriteApdu(CApdu(0x00, 0xB0, 0x00, 0x00, 2), Response("0102 9000"), ST_OK, SourcePlace());
         },
         "off\n00 B0 00 00 02\nB0 $r1=  90 00\n\non\n00 B0 00 00 02\nB0 01 02  90 00\n\n"},
        // Ruzo: a command with data, its response behind GET RESPONSE, or the variable named by the comment.
        {W::Ruzo,
         [](W& w) {
             const CApdu command(0x80, 0x10, 0x00, 0x00, Binary("55"));
             w.WriteApdu(command, Response("ABCD 9000"), ST_OK, SourcePlace());
             w.SetComment("name");
             w.WriteApdu(command, Response("ABCD 9000"), ST_OK, SourcePlace());
         },
         "80 10 00 00 01\n10\n55\n61 02\n00 C0 00 00 02\nC0 AB CD 90 00\n\n"
         "80 10 00 00 01\n10\n55\n61 02\n00 C0 00 00 02\nC0 $name= 90 00\n\n"},
        // JCShell: extended lengths in the ISO/IEC 7816-4 encoding.
        {W::JCShell,
         [](W& w) {
             w.WriteApdu(CApdu(0x00, 0xB0, 0x00, 0x00, 0x1234), Response("9000"), ST_ANY, SourcePlace());
             w.WriteApdu(CApdu(0x00, 0x2A, 0x80, 0x86, Binary("0102"), 0x300), Response("9000"), ST_ANY, SourcePlace());
         },
         "# \nsend 00B00000001234\n\n# \nsend 002A808600000201020300\n\n"},
    };
    for (const auto& [kind, write, expected] : cases) {
        SCOPED_TRACE(expected);
        const std::string path = test::TestDir() + std::to_string(&kind - &std::get<0>(cases[0])) + ".log";
        write(*BaseApduWriter::Create(kind, path, 0));
        EXPECT_EQ(ReadFile(path), expected);
    }
    // The script hex layout: two blanks after every 4th byte, a continued line after every 16th.
    EXPECT_EQ(SkarnaApduWriter::ScriptHex(Counting(16)), "00 01 02 03  04 05 06 07  08 09 0A 0B  0C 0D 0E 0F");
    EXPECT_EQ(SkarnaApduWriter::ScriptHex(Counting(20)),
              "00 01 02 03  04 05 06 07  08 09 0A 0B  0C 0D 0E 0F\\\n10 11 12 13");
}

// A write that fails names the file and the system's reason, once per entry; the
// next entry tries the file afresh.
TEST(ApduWriter, FailedWriteNamesTheFileAndTheReason) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    std::unique_ptr<BaseApduWriter> writer = BaseApduWriter::Create(BaseApduWriter::GP, "/dev/full", 0);
    const std::string expected =
        "Не удалось записать в файл для конвертированных APDU '/dev/full': No space left on device";
    for (int entry = 0; entry < 2; ++entry) {
        EXPECT_EQ(test::MessageOf([&] {
                      writer->WriteApdu(CApdu(0x00, 0x84, 0x00, 0x00, 8), Response("9000"), ST_OK, SourcePlace());
                  }),
                  expected)
            << entry;
    }
}

// Entries of 64 KB, far above a stream's buffer, from several processes at
// once into one APDU log: in every format each entry reaches the file whole,
// none cut into another's, none lost.
TEST(ApduWriter, ProcessesAppendingEntriesOf64KbToOneLogKeepEveryEntryWhole) {
    constexpr int Writers = 3, Entries = 8;
    // 32,800 data bytes: 64 KB of hex text or more in every format.
    const auto command = [](int writer, int number) {
        return CApdu(0x80, static_cast<uint8_t>(0x10 + writer), static_cast<uint8_t>(number), 0x00,
                     Binary(32800, static_cast<uint8_t>(0x11 * (writer + 1))));
    };
    for (int kind : {BaseApduWriter::Skarna, BaseApduWriter::GP, BaseApduWriter::JCShell, BaseApduWriter::Goznak,
                     BaseApduWriter::Ruzo}) {
        SCOPED_TRACE(BaseApduWriter::DefaultFileName(kind));
        const std::string shared = test::TestDir() + BaseApduWriter::DefaultFileName(kind);
        const int passed = test::RunTogether(Writers, [&](int writer) {
            std::unique_ptr<BaseApduWriter> log = BaseApduWriter::Create(kind, shared, 0);
            for (int number = 0; number < Entries; ++number)
                log->WriteApdu(command(writer, number), Response("9000"), ST_ANY, SourcePlace());
        });
        ASSERT_EQ(passed, Writers);
        // Each entry as a writer alone puts it in a log of its own.
        std::vector<std::string> expected;
        const std::string alone = test::TestDir() + "alone.log";
        for (int writer = 0; writer < Writers; ++writer) {
            for (int number = 0; number < Entries; ++number) {
                std::filesystem::remove(alone);
                BaseApduWriter::Create(kind, alone, 0)
                    ->WriteApdu(command(writer, number), Response("9000"), ST_ANY, SourcePlace());
                expected.push_back(ReadFile(alone));
                ASSERT_GE(expected.back().size(), 65536u);
            }
        }
        // The shared log is those entries one after another, in any order.
        const std::string text = ReadFile(shared);
        size_t position = 0;
        while (position < text.size()) {
            const auto whole = std::find_if(expected.begin(), expected.end(), [&](const std::string& entry) {
                return text.compare(position, entry.size(), entry) == 0;
            });
            if (whole == expected.end()) break;
            position += whole->size();
            expected.erase(whole);
        }
        EXPECT_EQ(position, text.size()) << "an entry is cut at " << position;
        EXPECT_TRUE(expected.empty()) << expected.size() << " entries are missing";
    }
}

// An APDU log holds its file against a run whose file log of the same name
// wrote nothing: the empty file stays, and the entries land in it.
TEST(ApduWriter, EveryFormatKeepsItsFileWhileAnEmptyFileLogOfTheSameNameEnds) {
    for (int kind = BaseApduWriter::Skarna; kind <= BaseApduWriter::Ruzo; ++kind) {
        const std::string path = test::TestDir() + BaseApduWriter::DefaultFileName(kind);
        std::unique_ptr<BaseApduWriter> writer = BaseApduWriter::Create(kind, path, 0);
        DeletableFileLog(path, nullptr);
        writer->WriteApdu(CApdu(0x00, 0x84, 0x00, 0x00, 8), Response("9000"), ST_OK, SourcePlace());
        EXPECT_TRUE(std::filesystem::exists(path) && !ReadFile(path).empty()) << path;
    }
}

TEST(JCShellApduWriter, EverySendLineDecodesBackToTheCommandSent) {
    // Every case, short and extended (also by the flag alone), with Le 00 and 00 00 00 or 00 00.
    const CApdu commands[] = {CApdu(0, 0xB0, 0, 0, 16),
                              CApdu(0, 0xB0, 0, 0, 16, true),
                              CApdu(0, 0x2A, 0x80, 0x86, Binary("0102"), 16, true),
                              CApdu(0, 0xB0, 0, 0, 256),
                              CApdu(0, 0xB0, 0, 0, 300),
                              CApdu(0, 0xB0, 0, 0, 65536),
                              CApdu(0, 0xD6, 0, 0, Binary("0102")),
                              CApdu(0, 0xD6, 0, 0, Binary(300, 0x5A)),
                              CApdu(0, 0xD6, 0, 0, Binary("0102"), 0, true),
                              CApdu(0, 0x2A, 0x80, 0x86, Binary("0102"), 256),
                              CApdu(0, 0x2A, 0x80, 0x86, Binary("0102"), 0x300),
                              CApdu(0, 0x2A, 0x80, 0x86, Binary(300, 0x5A), 65536)};
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

// ---- the printers of the console and the log

const std::string Header = "CLA  INS   P1   P2     Ne\n";
const std::string Equals = std::string(64, '=') + "\n";
// An FCI template holding a DF name, and its dump as a tree.
const char* const Fci = "6F 05 84 03 A0 00 01";
const std::string FciTree = "6F:\n  84: A0 00 01 ";

// Every record as "<level>/<colour> <text>".
template <class Print>
std::string Printed(Print print) {
    test::RecordingLog log;
    print(log);
    std::string text;
    for (const LogRecord& r : log.records)
        text += std::to_string(r.level) + "/" + std::to_string(r.colour) + " " + r.text;
    return text;
}

TEST(ApduPrinters, PrintCommands) {
    const std::string select = Header + " 00   A4   04   00     0  (0x0)\n";
    const StandardPrinter named("GET CHALLENGE");
    const TLVRequestPrinter tlv("SELECT");
    const TLVRequestPrinter tlvWithoutName;
    const std::tuple<const I_APDU_Printer*, CApdu, std::string> cases[] = {
        // The default printer prints no name line; data lines break after 16 bytes.
        {&DefaultPrinter(), CApdu(0, 0xA4, 4, 0, Binary("000102030405060708090A0B0C0D0E0F10")),
         "2/7 " + select + "Data: 17 (0x11)\n00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n10\n"},
        {&named, CApdu(0x00, 0x84, 0x00, 0x00, 256),
         "3/3 GET CHALLENGE\n2/7 " + Header + " 00   84   00   00     256  (0x100)\n"},
        {&SMPrinter(), CApdu(0x84, 0xB0, 0x00, 0x00, Binary("9701 FF 8E08 0102030405060708"), 0),
         "2/2 ~~~~~~~ Secure Messaging ~~~~~~~\n" + Header +
             " 84   B0   00   00     0  (0x0)\nData: 13 (0xD)\n97 01 FF 8E 08 01 02 03 04 05 06 07 08\n"},
        // The TLV request printer dumps the data as a tree, or warns and prints hex.
        {&tlv, CApdu(0, 0xA4, 4, 0, Binary(Fci)), "3/3 SELECT\n2/7 " + select + "Data: 7 (0x7)\n" + FciTree + "\n"},
        {&tlvWithoutName, CApdu(0, 0xA4, 4, 0, Binary("6F")),
         "6/14 Данные запроса имеют некорректный формат!\n2/7 " + select + "Data: 1 (0x1)\n6F\n"},
    };
    for (const auto& [printer, command, expected] : cases) {
        EXPECT_EQ(Printed([&](iLog& log) { printer->PrintCommand(command, log); }), expected);
    }
}

TEST(ApduPrinters, PrintResponses) {
    const std::string fciOk = std::string(Fci) + "9000";
    const StandardPrinter standard("X");
    const TLVRequestPrinter request("X");
    const TLVResponsePrinter response("R");
    const std::tuple<const I_APDU_Printer*, const char*, const char*, std::string> cases[] = {
        {&standard, "9000", "Ok", "2/7 Status: 9000 (Ok)\n" + Equals},
        {&DefaultPrinter(), "0102 6282", "", "2/7 Response: 2 (0x2)\n01 02\nStatus: 6282\n" + Equals},
        {&SMPrinter(), "990290008E0411223344 9000", "Ok",
         "2/2 Response: 10 (0xA)\n99 02 90 00 8E 04 11 22 33 44\nStatus: 9000 (Ok)\n" + std::string(32, '~') + "\n"},
        // The TLV request printer prints responses as the standard printer does.
        {&request, fciOk.c_str(), "Ok", "2/7 Response: 7 (0x7)\n6F 05 84 03 A0 00 01\nStatus: 9000 (Ok)\n" + Equals},
        // The TLV response printer closes on the status line.
        {&response, fciOk.c_str(), "Ok", "2/7 Response: 7 (0x7)\n" + FciTree + "\nStatus: 9000 (Ok)" + Equals},
        {&response, "6F 9000", "",
         "6/14 Данные ответа имеют некорректный формат!\n2/7 Response: 1 (0x1)\n6F\nStatus: 9000" + Equals},
        {&response, "6A82", "Не найден", "2/7 Status: 6A82 (Не найден)" + Equals},
    };
    for (const auto& [printer, answer, statusText, expected] : cases) {
        EXPECT_EQ(Printed([&](iLog& log) { printer->PrintResponse(RApdu(Binary(answer)), statusText, log); }),
                  expected);
    }
}

TEST(ApduPrinters, NamesStartANewLineAndClonesKeepTheirKindAndName) {
    std::string names = "first";
    StandardPrinter("VERIFY").Clone()->AppendName(names);
    TLVRequestPrinter("REQ").Clone()->AppendName(names);
    TLVResponsePrinter("RESP").Clone()->AppendName(names);
    SMPrinter().AppendName(names);
    EXPECT_EQ(names, "first\nVERIFY\nREQ\nRESP\n~~~~~~~ Secure Messaging ~~~~~~~");
    EXPECT_NE(dynamic_cast<TLVRequestPrinter*>(TLVRequestPrinter().Clone().get()), nullptr);
    EXPECT_NE(dynamic_cast<TLVResponsePrinter*>(TLVResponsePrinter().Clone().get()), nullptr);
    EXPECT_EQ(&PrinterOf(CApdu(0x00, 0xB0, 0x00, 0x00, 1)), &DefaultPrinter());
    std::string named;
    PrinterOf(CApdu(0x00, 0xB0, 0x00, 0x00, 1, Named("READ"))).AppendName(named);
    EXPECT_EQ(named, "READ");  // no line break in front of an empty text
}

// The exchange as one text, for the card exception: the name (when there is one),
// the command and the response without a closing line; the text is replaced.
TEST(ApduPrinters, FormatExchange) {
    std::string out = "left over";
    StandardPrinter().FormatExchange(CApdu(0x80, 0xCA, 0x00, 0x00), Response("AB 6A88"), out);
    EXPECT_EQ(out, Header + " 80   CA   00   00     0  (0x0)\nResponse: 1 (0x1)\nAB\nStatus: 6A88");
    StandardPrinter("SELECT").FormatExchange(CApdu(0x00, 0xA4, 0x04, 0x00, Binary("A0"), 0), Response("9000"), out);
    EXPECT_EQ(out, "SELECT\n" + Header + " 00   A4   04   00     0  (0x0)\nData: 1 (0x1)\nA0\nStatus: 9000");
    TLVResponsePrinter("GET DATA").FormatExchange(CApdu(0x80, 0xCA, 0x00, 0x00), Response("9000"), out);
    EXPECT_EQ(out, "GET DATA\n" + Header + " 80   CA   00   00     0  (0x0)\nStatus: 9000");
}

}  // namespace
}  // namespace ZORVIK
