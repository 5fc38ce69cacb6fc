// The main window's registration of the archive file type.
#include "app/context.h"
#include "app/frmGlavni.h"
#include "shell/modAssociate.h"

namespace app {

void frmGlavni::FileAssociate() {
  Context& ctx = context();
  shell::FileAssociate(ctx.machine, ctx.registry, ctx.programFolder, ctx.exeName);
}

}  // namespace app
