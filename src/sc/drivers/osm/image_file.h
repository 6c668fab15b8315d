// Saving the EEPROM image of the simulated card: the file is replaced whole or
// not at all, whatever fails on the way.
#pragma once

#include <string>

#include "service/common/binary.h"

namespace ZORVIK {

// Writes image to a temporary file beside path and renames it over path, with
// the file and its directory flushed to disk around the rename. A symbolic link
// stays a link: the file it names is replaced. The permission bits of the file
// replaced are kept. A failure throws the reader-driver error "Can't save
// EEPROM image '<path>': ..." with the step and the system's reason, and leaves
// path as it was and no temporary file behind.
void WriteImageFile(const std::string& path, const binary::Binary& image);

}  // namespace ZORVIK
