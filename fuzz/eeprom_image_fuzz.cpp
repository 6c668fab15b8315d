// Arbitrary bytes as the EEPROM image file of the simulated card. The first byte
// chooses the file: the bytes as they are (almost always the wrong size), the
// bytes padded with erased cells (FF) to the image size, or an image size and
// the bytes beyond it. A file of the right size loads and saves back unchanged;
// any other is refused with ZORVIK::Exception; nothing else may happen.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "fuzz_work_dir.h"
#include "sc/drivers/osm/osm_reader.h"
#include "service/common/binary.h"
#include "service/common/exception.h"

namespace {

using ZORVIK::OSM;
using ZORVIK::binary::Binary;

Binary FileBytes(uint8_t road, const uint8_t* data, size_t size) {
    Binary bytes(data, data + size);
    switch (road % 3) {
        case 1:
            if (bytes.size() < OSM::ImageSize) bytes.resize(OSM::ImageSize, 0xFF);
            break;
        case 2: bytes.insert(bytes.begin(), OSM::ImageSize, 0xFF); break;
        default: break;
    }
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const Binary bytes = FileBytes(data[0], data + 1, size - 1);
    const std::string in = zorvik_fuzz::WorkDirectory() + "in.bin";
    const std::string out = zorvik_fuzz::WorkDirectory() + "out.bin";
    std::ofstream(in, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ReaderSpec spec;
    spec.EL = in;
    try {
        ZORVIK::OSMReader reader(spec, nullptr);
        if (bytes.size() != OSM::ImageSize || reader.Host().ReadEeprom() != bytes) std::abort();
        reader.SaveEepromFile(out);
        if (ZORVIK::binary::LoadBinaryFile(out) != bytes) std::abort();
    } catch (const ZORVIK::Exception&) {
        if (bytes.size() == OSM::ImageSize) std::abort();  // an image of the right size always loads
    }
    return 0;
}
