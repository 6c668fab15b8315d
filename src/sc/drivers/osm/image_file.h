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
//
// SIGINT, SIGTERM or SIGHUP that arrives while the temporary file is written
// and would end the process (its action is the default one) removes the
// temporary file and then ends the process as that signal does; path keeps its
// old image. Around the rename the signals are held off, so one that arrives
// there ends the process after the rename, with the new image in place. A
// signal that is ignored or has a handler of the program keeps it. The signals
// are held off only in the calling thread.
void WriteImageFile(const std::string& path, const binary::Binary& image);

// For tests alone: when set, called once the temporary file is written and
// closed, before it is renamed over the image, so that a test can stop a save
// in its middle. Null in the program.
extern void (*g_beforeImageRename)();

}  // namespace ZORVIK
