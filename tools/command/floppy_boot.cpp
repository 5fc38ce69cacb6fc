#include "tools/command/floppy_boot.h"

#include "platform/error.h"
#include "platform/files.h"
#include "platform/volume.h"

namespace command {

BootResult bootFloppy(const platform::Machine& m, std::ostream& out, std::ostream& err,
                      bool terminal, std::istream* in) {
  BootResult result;
  if (!m.hasDrive('A')) {
    err << "The machine has no drive A: (see [Drives] in machine.ini)\n";
    return result;
  }
  // The disk is the folder or the image file that machine.ini names.
  const bool image = m.driveImage('A').has_value();
  std::filesystem::path disk = image ? *m.driveImage('A') : *m.driveFolder('A');
  std::error_code ec;
  if (image ? !std::filesystem::is_regular_file(disk, ec) : !std::filesystem::is_directory(disk, ec)) {
    err << "No disk in drive A: (" << disk.string() << " does not exist)\n";
    return result;
  }
  if (image) {
    try {
      m.imageVolume('A')->space();
    } catch (const platform::Error& e) {
      err << "The disk in drive A: cannot be read: " << e.what() << "\n";
      return result;
    }
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
