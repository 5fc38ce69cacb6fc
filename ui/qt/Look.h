#pragma once
// The classic look: the Windows style, the grey button face, and the
// nearest installed fonts for the ones the forms name.
class QApplication;

namespace qtui {

void setUpLook(QApplication& app);

}  // namespace qtui
