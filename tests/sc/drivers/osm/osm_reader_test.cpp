#include "sc/drivers/osm/osm_reader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "sc/drivers/osm/error_catalogue.h"
#include "service/common/exception.h"
#include "service/log/recording_log.h"
#include "support/test_dir.h"

namespace ZORVIK {
namespace {

using binary::Binary;
namespace fs = std::filesystem;

size_t EntryCount(const std::string& directory) {
    return static_cast<size_t>(std::distance(fs::directory_iterator(directory), {}));
}

void WriteFile(const std::string& path, const Binary& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Binary Pattern() {
    Binary image(OSM::ImageSize);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    return image;
}

template <class Error, class Fn>
void ExpectError(Fn fn, const std::string& message, int32_t code) {
    try {
        fn();
        ADD_FAILURE() << "no exception, expected: " << message;
    } catch (const Exception& e) {
        EXPECT_NE(dynamic_cast<const Error*>(&e), nullptr) << "thrown as " << e.Name();
        EXPECT_EQ(std::string(e.what()), message);
        EXPECT_EQ(e.ErrorCode(), code);
    }
}

TEST(OSMReader, PowerOnAnswersAT1Atr) {
    OSMReader reader(ReaderSpec{}, nullptr);
    EXPECT_TRUE(OSMReader::IsAvailable());
    EXPECT_FALSE(reader.IsPowered());
    EXPECT_TRUE(reader.GetATR().empty());

    ATR atr;
    reader.PowerOn(atr);
    EXPECT_TRUE(reader.IsPowered());
    EXPECT_EQ(reader.GetATR(), Binary("3B D8 18 00 81 31 FE 45 5A 4F 52 56 49 4B 4F 53 C4"));
    EXPECT_EQ(atr.GetRaw(), reader.GetATR());
    EXPECT_EQ(atr.GetPreferredProtocol(), 1u);
    EXPECT_TRUE(atr.IsProtocolSupported(1));
    EXPECT_EQ(atr.GetIFSC(), 254);
    EXPECT_TRUE(atr.GetDetail().tckOk);

    CardExchParam param;
    param.clock = 4000000;
    EXPECT_EQ(reader.GetCardExchParam(param).protocol, 1u);
    EXPECT_EQ(param.clock, 4000000u);  // the simulated card reports the protocol alone

    const ReaderParams defaults;
    EXPECT_EQ(reader.GetParams().protocols, defaults.protocols);
    EXPECT_EQ(reader.GetParams().auto_t0, defaults.auto_t0);

    // Every command is unknown to the card; a second power-on leaves it on.
    reader.PowerOn(atr);
    RApdu response(Binary("01 02 90 00"));
    reader.Command(CApdu("00 A4 04 00 02 3F 00"), response);
    EXPECT_TRUE(response.data.empty());
    EXPECT_EQ(response.GetSW(), 0x6D00);
}

TEST(OSMReader, UnpoweredCardRefusesResetAndCommands) {
    OSMReader reader(ReaderSpec{}, nullptr);
    ATR atr;
    RApdu response;
    const auto expectRefusals = [&] {
        ExpectError<CardDrvException>([&] { reader.Reset(atr); }, "No Card in Reader or Card is Powered Off", 11);
        ExpectError<Exception>([&] { reader.Command(CApdu("00 B0 00 00 00"), response); },
                               "No Card in Reader or Card is Powered Off", 0);
    };
    expectRefusals();
    reader.PowerOn(atr);
    reader.Reset(atr);
    EXPECT_TRUE(reader.IsPowered());
    EXPECT_EQ(atr.GetRaw(), reader.GetATR());

    reader.PowerOff();
    reader.PowerOff();  // already off: nothing happens
    EXPECT_FALSE(reader.IsPowered());
    expectRefusals();
}

TEST(OSMReader, SpecSwitchesAreKeptByTheHost) {
    test::RecordingLog log;
    ReaderSpec spec;
    spec.tex = 1;
    spec.cless = 1;
    OSMReader traced(spec, &log);
    EXPECT_TRUE(traced.Host().IsTraceOn());
    EXPECT_TRUE(traced.Host().IsContactless());
    EXPECT_EQ(dynamic_cast<OSM&>(traced.Host()).GetCommandTimeout(), -1);  // 0: no time-out

    ATR atr;
    traced.PowerOn(atr);
    RApdu response;
    traced.Command(CApdu("80 CA 00 00 00"), response);
    ASSERT_EQ(log.records.size(), 2u);
    EXPECT_EQ(log.records[0].text, "OSM > 80 CA 00 00 00\n");
    EXPECT_EQ(log.records[1].text, "OSM < 6D 00\n");
    EXPECT_EQ(log.records[0].level, 1);
}

TEST(OSMReader, OnlyOneHostLivesAtATime) {
    {
        OSMReader first(ReaderSpec{}, nullptr);
        ExpectError<CardDrvException>([] { OSMReader second(ReaderSpec{}, nullptr); }, "Can't create OS model", 0);
    }
    ReaderSpec spec;
    spec.cmd_timeout = 5000;
    OSMReader again(spec, nullptr);
    EXPECT_FALSE(again.IsPowered());
    EXPECT_EQ(dynamic_cast<OSM&>(again.Host()).GetCommandTimeout(), 5000);
    EXPECT_FALSE(again.Host().IsTraceOn());
    EXPECT_FALSE(again.Host().IsContactless());
    EXPECT_EQ(again.Host().ReadEeprom(), Binary(0x12000, 0xFF));  // a fresh image is erased
}

TEST(OSMReaderEeprom, ImageWrittenAtDestructionLoadsBack) {
    const std::string dir = test::TestDir();
    const std::string path = dir + "card.bin";
    WriteFile(path, Binary("00 11 22"));  // replaced whole
    {
        ReaderSpec spec;
        spec.ES = path;
        OSMReader reader(spec, nullptr);
        reader.Host().LoadEeprom(Pattern());
    }
    EXPECT_EQ(binary::LoadBinaryFile(path), Pattern());
    EXPECT_EQ(EntryCount(dir), 1u);  // no temporary file left behind

    ReaderSpec spec;
    spec.EL = path;
    OSMReader reader(spec, nullptr);
    EXPECT_EQ(reader.Host().ReadEeprom(), Pattern());
}

// A link stays a link and the file it names is replaced, with its permission
// bits; a directory is refused before anything is written.
TEST(OSMReaderEeprom, SaveFollowsLinksKeepsPermissionsAndRefusesADirectory) {
    const std::string dir = test::TestDir();
    const fs::perms bits = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    WriteFile(dir + "real.bin", Binary("00"));
    fs::permissions(dir + "real.bin", bits);
    fs::create_symlink("real.bin", dir + "link.bin");
    fs::create_symlink(dir + "new.bin", dir + "dangling.bin");
    fs::create_directory(dir + "adir");
    OSMReader reader(ReaderSpec{}, nullptr);
    reader.Host().LoadEeprom(Pattern());

    reader.SaveEepromFile(dir + "link.bin");
    EXPECT_TRUE(fs::is_symlink(dir + "link.bin"));
    EXPECT_EQ(binary::LoadBinaryFile(dir + "real.bin"), Pattern());
    EXPECT_EQ(fs::status(dir + "real.bin").permissions(), bits);
    reader.SaveEepromFile(dir + "dangling.bin");
    EXPECT_EQ(binary::LoadBinaryFile(dir + "new.bin"), Pattern());
    ExpectError<CardDrvException>([&] { reader.SaveEepromFile(dir + "adir"); },
                                  "Can't save EEPROM image '" + dir + "adir': Is a directory", 0);
    EXPECT_EQ(EntryCount(dir), 5u);  // no temporary file left behind
}

TEST(OSMReaderEeprom, RefusesImagesOfAnyOtherSize) {
    const std::string dir = test::TestDir();
    // The size is checked before reading: a 300 MB file is refused as quickly.
    for (size_t size : {size_t{0}, size_t{100}, OSM::ImageSize - 1, OSM::ImageSize + 1, size_t{300} << 20}) {
        SCOPED_TRACE(size);
        const std::string path = dir + "wrong.bin";
        WriteFile(path, Binary(std::min<size_t>(size, 100), 0xA5));
        fs::resize_file(path, size);
        ReaderSpec spec;
        spec.EL = path;
        ExpectError<CardDrvException>(
            [&] { OSMReader reader(spec, nullptr); },
            "EEPROM image '" + path + "' has " + std::to_string(size) + " bytes, expected 73728", 0);
    }
    OSMReader reader(ReaderSpec{}, nullptr);
    ExpectError<Exception>([&] { reader.Host().LoadEeprom(Binary(10, 0)); },
                           "EEPROM image has 10 bytes, expected 73728", 0);
}

TEST(OSMReaderEeprom, MissingImageFileFailsConstruction) {
    const std::string dir = test::TestDir();
    ReaderSpec spec;
    spec.EL = dir + "absent.bin";
    EXPECT_THROW(OSMReader(spec, nullptr), Exception);
    OSMReader next(ReaderSpec{}, nullptr);  // the failed reader released its host
}

TEST(OSMReaderEeprom, SaveFailureAtDestructionIsLogged) {
    const std::string dir = test::TestDir();
    test::RecordingLog log;
    {
        ReaderSpec spec;
        spec.ES = dir + "no/such/dir/card.bin";
        OSMReader reader(spec, &log);
    }
    ASSERT_EQ(log.records.size(), 1u);
    EXPECT_EQ(log.records[0].level, 7);
    EXPECT_NE(log.records[0].text.find("Can't save EEPROM image '" + dir + "no/such/dir/card.bin" + "'"),
              std::string::npos);
}

TEST(JCD_OSM_Reader, IsNeverCreated) {
    const std::string dir = test::TestDir();
    ReaderSpec spec;
    spec.ES = dir + "never.bin";
    OSMReader running(ReaderSpec{}, nullptr);  // a live host does not change the error
    ExpectError<CardDrvException>([&] { JCD_OSM_Reader reader(spec, nullptr, 8000, {"a.cap"}); },
                                  "Can't create OS model with JC debug facility", 0);
    EXPECT_EQ(EntryCount(dir), 0u);
}

TEST(ErrorCatalogue, NineGroupsInOrderInstalledByTheHost) {
    const char* const names[] = {"ex_class", "hal",   "init_phase", "jc",        "vask",
                                 "lib",      "morva", "morva_3",    "morva_pass"};
    ASSERT_EQ(error_catalogue.size(), 9u);
    for (size_t i = 0; i < error_catalogue.size(); ++i) {
        EXPECT_STREQ(error_catalogue[i].name, names[i]);
        EXPECT_TRUE(error_catalogue[i].rows.empty());
    }
    SetErrorCatalogue({});
    OSMReader reader(ReaderSpec{}, nullptr);
    EXPECT_EQ(GetErrorCatalogue().data(), error_catalogue.data());
    EXPECT_EQ(GetErrorCatalogue().size(), 9u);
}

}  // namespace
}  // namespace ZORVIK
