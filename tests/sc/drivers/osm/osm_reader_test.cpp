#include "sc/drivers/osm/osm_reader.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "sc/card_service/status_words.h"
#include "sc/drivers/iso/byte_reader_helpers.h"
#include "sc/drivers/osm/error_catalogue.h"
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
    EXPECT_TRUE(OSMReader::IsAvailable());
    OSMReader reader(ReaderSpec{}, nullptr);
    EXPECT_FALSE(reader.IsPowered());
    EXPECT_TRUE(reader.GetATR().empty());
    ATR atr;
    RApdu response;
    const DriverError noCard{11, "No Card in Reader or Card is Powered Off"};
    // Unpowered, a command is refused by a check (a plain error, code 0), a reset by the driver error.
    const auto commandUnpowered = [&] { reader.Command(CApdu("00 B0 00 00 00"), response); };
    EXPECT_EQ(test::MessageOf(commandUnpowered), noCard.text);
    EXPECT_THROW(DriverErrorOf(commandUnpowered), Exception);
    EXPECT_EQ(DriverErrorOf([&] { reader.Reset(atr); }), noCard);
    reader.PowerOn(atr);
    reader.PowerOn(atr);  // a second power-on leaves it on
    EXPECT_TRUE(reader.IsPowered());
    EXPECT_EQ(reader.GetATR(), Binary("3B D8 18 00 81 31 FE 45 5A 4F 52 56 49 4B 4F 53 C4"));
    // ISO/IEC 7816-3: T=1 only (TD1 81, TD2 31), IFSC FE in TA3, a correct TCK.
    EXPECT_EQ(atr.GetRaw(), reader.GetATR());
    EXPECT_EQ(atr.GetPreferredProtocol(), 1u);
    EXPECT_EQ(atr.GetIFSC(), 254);
    EXPECT_TRUE(atr.GetDetail().tckOk);
    response = RApdu(Binary("01 02 90 00"));  // what an earlier exchange left
    reader.Command(CApdu("00 A4 04 00 02 3F 00"), response);
    EXPECT_EQ(response.Encode(), Binary("6D 00"));  // every command is unknown to the card
    atr.SetAtr(Binary("3B 00"));
    reader.Reset(atr);
    EXPECT_EQ(atr.GetRaw(), reader.GetATR());
    CardExchParam param;
    param.clock = 4000000;
    EXPECT_EQ(reader.GetCardExchParam(param).protocol, 1u);
    EXPECT_EQ(param.clock, 4000000u);                                   // the simulated card reports the protocol alone
    EXPECT_EQ(reader.GetParams().protocols, ReaderParams().protocols);  // its own defaults
    EXPECT_EQ(reader.GetParams().auto_t0, ReaderParams().auto_t0);
    reader.PowerOff();
    reader.PowerOff();  // already off: nothing happens
    EXPECT_FALSE(reader.IsPowered());
    EXPECT_EQ(DriverErrorOf([&] { reader.Reset(atr); }), noCard);
    EXPECT_EQ(test::MessageOf(commandUnpowered), noCard.text);
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
        EXPECT_EQ(dynamic_cast<OSM&>(traced.Host()).GetCommandTimeout(), -1);  // 0: no time-out
        ATR atr;
        traced.PowerOn(atr);
        RApdu response;
        traced.Command(CApdu("80 CA 00 00 00"), response);
        ASSERT_EQ(log.records.size(), 2u);
        EXPECT_EQ(log.records[0].text + log.records[1].text, "OSM > 80 CA 00 00 00\nOSM < 6D 00\n");
        EXPECT_EQ(log.records[0].level, 1);
    }
    ReaderSpec timed;
    timed.cmd_timeout = 5000;
    OSMReader again(timed, nullptr);
    EXPECT_EQ(dynamic_cast<OSM&>(again.Host()).GetCommandTimeout(), 5000);
    EXPECT_FALSE(again.Host().IsTraceOn() || again.Host().IsContactless());
    EXPECT_EQ(again.Host().ReadEeprom(), Binary(0x12000, 0xFF));  // a fresh image is erased
}

TEST(OSMReaderEeprom, ImageWrittenAtDestructionLoadsBack) {
    const std::string dir = test::TestDir();
    const std::string path = dir + "card.bin";
    WriteFile(path, Binary("00 11 22"));  // replaced whole
    {
        OSMReader reader(Spec("", path), nullptr);
        reader.Host().LoadEeprom(Pattern());
    }
    EXPECT_EQ(binary::LoadBinaryFile(path), Pattern());
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 1);  // no temporary file left behind
    OSMReader reader(Spec(path, ""), nullptr);
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
    EXPECT_EQ(DriverErrorOf([&] { reader.SaveEepromFile(dir + "adir"); }),
              (DriverError{0, "Can't save EEPROM image '" + dir + "adir': Is a directory"}));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 5);  // no temporary file left behind
}

// The size is checked before reading: a 300 MB file is refused as quickly.
TEST(OSMReaderEeprom, RefusesImagesOfAnyOtherSizeAndAMissingFile) {
    const std::string path = test::TestDir() + "wrong.bin";
    // A terabyte, sparse on disk, could not even be held in memory.
    for (size_t size :
         {size_t{0}, size_t{100}, OSM::ImageSize - 1, OSM::ImageSize + 1, size_t{300} << 20, size_t{1} << 40}) {
        WriteFile(path, Binary(std::min<size_t>(size, 100), 0xA5));
        fs::resize_file(path, size);
        EXPECT_EQ(
            DriverErrorOf([&] { OSMReader reader(Spec(path, ""), nullptr); }),
            (DriverError{0, "EEPROM image '" + path + "' has " + std::to_string(size) + " bytes, expected 73728"}));
    }
    EXPECT_EQ(test::MessageOf([&] { OSMReader(Spec(path + ".absent", ""), nullptr); }),
              path + ".absent : fopen error: No such file or directory");
    OSMReader reader(ReaderSpec{}, nullptr);  // the failed readers released their host
    EXPECT_EQ(test::MessageOf([&] { reader.Host().LoadEeprom(Binary(10, 0)); }),
              "EEPROM image has 10 bytes, expected 73728");
}

// A FIFO, a device or a directory is refused by its kind before it is opened
// (a FIFO would wait for a writer), with its name and the reason.
TEST(OSMReaderEeprom, RefusesAFifoADeviceAndADirectoryByName) {
    const std::string dir = test::TestDir();
    ASSERT_EQ(::mkfifo((dir + "image.fifo").c_str(), 0600), 0);
    fs::create_directory(dir + "image.dir");
    const std::pair<std::string, const char*> cases[] = {
        {dir + "image.fifo", "Is a named pipe (FIFO), not a regular file"},
        {"/dev/zero", "Is a device, not a regular file"},
        {dir + "image.dir", "Is a directory"},
    };
    for (const auto& [path, reason] : cases) {
        EXPECT_EQ(test::MessageOf([&] { OSMReader(Spec(path, ""), nullptr); }), path + " : fopen error: " + reason);
    }
}

// A write that fails half-way (the file-size limit, as on a full disk) leaves
// the image on disk as it was and no temporary file: run in a child process,
// whose limit the test process does not share.
TEST(OSMReaderEeprom, FailedWriteLeavesTheOldImageAndNoTemporaryFile) {
    const std::string dir = test::TestDir();
    const std::string path = dir + "card.bin";
    const Binary old(OSM::ImageSize, 0x5A);
    WriteFile(path, old);
    const auto save = [&] {
        const rlimit limit{16384, 16384};
        if (::signal(SIGXFSZ, SIG_IGN) == SIG_ERR || ::setrlimit(RLIMIT_FSIZE, &limit) != 0) std::_Exit(3);
        OSMReader reader(ReaderSpec{}, nullptr);
        reader.Host().LoadEeprom(Pattern());
        const DriverError error = DriverErrorOf([&] { reader.SaveEepromFile(path); });
        const bool reported = error == DriverError{0, "Can't save EEPROM image '" + path + "': write: File too large"};
        const bool kept = binary::LoadBinaryFile(path) == old;
        const bool alone = std::distance(fs::directory_iterator(dir), {}) == 1;
        std::_Exit(reported ? (kept ? (alone ? 0 : 6) : 5) : 4);
    };
    EXPECT_EXIT(save(), ::testing::ExitedWithCode(0), "");
}

TEST(OSMReaderEeprom, SaveFailureAtDestructionIsLogged) {
    const std::string path = test::TestDir() + "no/such/dir/card.bin";
    test::RecordingLog log;
    OSMReader(Spec("", path), &log);
    ASSERT_EQ(log.records.size(), 1u);
    EXPECT_EQ(log.records[0].level, 7);
    EXPECT_NE(log.records[0].text.find("Can't save EEPROM image '" + path + "'"), std::string::npos);
}

TEST(JCD_OSM_Reader, IsNeverCreated) {
    const std::string dir = test::TestDir();
    OSMReader running(ReaderSpec{}, nullptr);  // a live host does not change the error
    EXPECT_EQ(DriverErrorOf([&] { JCD_OSM_Reader reader(Spec("", dir + "never.bin"), nullptr, 8000, {"a.cap"}); }),
              (DriverError{0, "Can't create OS model with JC debug facility"}));
    EXPECT_TRUE(fs::is_empty(dir));  // nor does it save an image
}

TEST(ErrorCatalogue, NineGroupsInOrderInstalledByTheHost) {
    const char* const names[] = {"ex_class", "hal",   "init_phase", "jc",        "vask",
                                 "lib",      "morva", "morva_3",    "morva_pass"};
    ASSERT_EQ(error_catalogue.size(), 9u);
    for (size_t i = 0; i < error_catalogue.size(); ++i) EXPECT_STREQ(error_catalogue[i].name, names[i]);
    const ErrorCatalogue before = GetErrorCatalogue();
    SetErrorCatalogue({});
    {
        OSMReader reader(ReaderSpec{}, nullptr);
        EXPECT_EQ(GetErrorCatalogue().data(), error_catalogue.data());
        EXPECT_EQ(GetErrorCatalogue().size(), 9u);
    }
    SetErrorCatalogue(before);
}

}  // namespace
}  // namespace ZORVIK
