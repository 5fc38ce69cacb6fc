#include "tools/command/floppy_boot.h"

#include "platform/error.h"
#include "platform/files.h"
#include "platform/volume.h"

namespace command {

BootResult bootFloppy(const platform::Machine& m, std::ostream& out, std::ostream& err,
                      bool terminal, std::istream* in) {
  BootResult result;
  if (!platform::driveExists(m, 'A')) {
    err << "The machine has no drive A: (see [Drives] in machine.ini)\n";
    return result;
  }
  if (m.driveImage('A')) {
    // An image is no disk when it is gone, and unreadable when damaged.
    try {
      m.imageVolume('A')->space();
    } catch (const platform::Error& e) {
      if (e.number() == platform::kDiskNotReady) {
        err << "No disk in drive A:\n";
      } else {
        err << "The disk in drive A: cannot be read: " << e.what() << "\n";
      }
      return result;
    }
  } else if (!platform::folderExists(m, "A:\\")) {  // without a disk the drive has no root folder
    err << "No disk in drive A:\n";
    return result;
  }
  Options options;
  options.mode = Mode::Dos;
  options.cwd = "A:\\";
  options.terminal = terminal;
  options.input = in;
  DosPaths dos(m, Mode::Dos);
  if (!dos.isFile("A:\\AUTOEXEC.BAT")) {
    err << "No Autoexec.bat on the disk in drive A:\n";
    return result;
  }
  Interpreter interpreter(m, out, options);
  result.booted = true;
  result.outcome = interpreter.runBatch("A:\\AUTOEXEC.BAT");
  if (result.outcome.stop == Stop::Finished) {
    // The batch has ended; DOS now waits at its prompt.
    out << "\n" << interpreter.cwd() << ">\n";
  }
  out.flush();
  return result;
}

}  // namespace command
