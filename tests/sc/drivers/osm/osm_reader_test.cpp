#include "sc/drivers/osm/osm_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "sc/drivers/iso/byte_reader_helpers.h"
#include "service/log/recording_log.h"
#include "support/error_text.h"
#include "support/test_dir.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::DriverError;
using test::DriverErrorOf;
namespace fs = std::filesystem;

void WriteFile(const std::string& path, const Binary& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Binary Pattern() {
    Binary image(OSM::ImageSize);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    return image;
}

ReaderSpec Spec(const std::string& el, const std::string& es) {
    ReaderSpec spec;
    spec.EL = el;
    spec.ES = es;
    return spec;
}

TEST(OSMReader, SimulatedCardFromPowerOnToPowerOff) {
    OSMReader reader(ReaderSpec{}, nullptr);
    ATR atr;
    RApdu response;
    const DriverError noCard{11, "No Card in Reader or Card is Powered Off"};
    EXPECT_EQ(test::MessageOf([&] { reader.Command(CApdu("00 B0 00 00 00"), response); }), noCard.text);
    reader.PowerOn(atr);
    reader.PowerOn(atr);  // a second power-on leaves it on
    EXPECT_EQ(reader.GetATR(), Binary("3B D8 18 00 81 31 FE 45 5A 4F 52 56 49 4B 4F 53 C4"));
    reader.Command(CApdu("00 A4 04 00 02 3F 00"), response);
    EXPECT_EQ(response.Encode(), Binary("6D 00"));  // every command is unknown to the card
    reader.Reset(atr);
    EXPECT_EQ(atr.GetRaw(), reader.GetATR());
    CardExchParam param;
    EXPECT_EQ(reader.GetCardExchParam(param).protocol, 1u);
    EXPECT_EQ(reader.GetParams().protocols, ReaderParams().protocols);  // its own defaults
    reader.PowerOff();
    reader.PowerOff();  // already off: nothing happens
    EXPECT_FALSE(reader.IsPowered());
    EXPECT_EQ(DriverErrorOf([&] { reader.Reset(atr); }), noCard);
}

TEST(OSMReader, SpecSwitchesAreKeptByTheOneHostThatLivesAtATime) {
    test::RecordingLog log;
    ReaderSpec spec;
    spec.tex = 1;
    spec.cless = 1;
    {
        OSMReader traced(spec, &log);
        EXPECT_EQ(DriverErrorOf([] { OSMReader second(ReaderSpec{}, nullptr); }),
                  (DriverError{0, "Can't create OS model"}));
        EXPECT_TRUE(traced.Host().IsTraceOn() && traced.Host().IsContactless());
        ATR atr;
        traced.PowerOn(atr);
        RApdu response;
        traced.Command(CApdu("80 CA 00 00 00"), response);
        ASSERT_EQ(log.records.size(), 2u);
        EXPECT_EQ(log.records[0].text + log.records[1].text, "OSM > 80 CA 00 00 00\nOSM < 6D 00\n");
        EXPECT_EQ(log.records[0].level, 1);
    }
    EXPECT_EQ(OSMReader(ReaderSpec{}, nullptr).Host().ReadEeprom(), Binary(0x12000, 0xFF));  // a fresh image is erased
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
    EXPECT_EQ(DriverErrorOf([&] { reader.SaveEepromFile(dir + "adir"); }),
              (DriverError{0, "Can't save EEPROM image '" + dir + "adir': Is a directory"}));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 5);  // no temporary file left behind
}

// The size is checked before reading: a 300 MB file is refused as quickly.
TEST(OSMReaderEeprom, RefusesImagesOfAnyOtherSizeAndAMissingFile) {
    const std::string path = test::TestDir() + "wrong.bin";
    for (size_t size : {size_t{0}, OSM::ImageSize - 1, OSM::ImageSize + 1, size_t{300} << 20}) {
        WriteFile(path, Binary(std::min<size_t>(size, 100), 0xA5));
        fs::resize_file(path, size);
        EXPECT_EQ(
            DriverErrorOf([&] { OSMReader reader(Spec(path, ""), nullptr); }),
            (DriverError{0, "EEPROM image '" + path + "' has " + std::to_string(size) + " bytes, expected 73728"}));
    }
    EXPECT_THROW(OSMReader(Spec(path + ".absent", ""), nullptr), Exception);
    OSMReader reader(ReaderSpec{}, nullptr);  // the failed readers released their host
    EXPECT_EQ(test::MessageOf([&] { reader.Host().LoadEeprom(Binary(10, 0)); }),
              "EEPROM image has 10 bytes, expected 73728");
}

TEST(OSMReaderEeprom, SaveFailureAtDestructionIsLogged) {
    const std::string path = test::TestDir() + "no/such/dir/card.bin";
    test::RecordingLog log;
    OSMReader(Spec("", path), &log);
    ASSERT_EQ(log.records.size(), 1u);
    EXPECT_EQ(log.records[0].level, 7);
    EXPECT_NE(log.records[0].text.find("Can't save EEPROM image '" + path + "'"), std::string::npos);
}

}  // namespace
}  // namespace ZORVIK
