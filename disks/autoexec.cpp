#include "disks/autoexec.h"

#include <vector>

namespace app {

namespace {

std::string joinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) text += l + "\r\n";
  return text;
}

}  // namespace

std::string rescueAutoexec(const std::string& p, const std::string& w, bool f) {
  std::vector<std::string> l;
  l.push_back("@ECHO OFF");
  l.push_back("CLS");
  if (f) {
    l.push_back("ECHO ACCESSING BACKUP FILE CLASSES.DAT .....");
    l.push_back("ATTRIB " + p + "\\RESCUE\\CLASSES.DAT -R -A -H -S");
    l.push_back("ATTRIB " + w + "\\CLASSES.DAT -R -A -H -S");
  }
  l.push_back("ECHO ACCESSING BACKUP FILE SYSTEM.DAT .....");
  l.push_back("ATTRIB " + p + "\\RESCUE\\SYSTEM.DAT -R -A -H -S");
  l.push_back("ATTRIB " + w + "\\SYSTEM.DAT -R -A -H -S");
  l.push_back("ECHO ACCESSING BACKUP FILE USER.DAT .....");
  l.push_back("ATTRIB " + p + "\\RESCUE\\USER.DAT -R -A -H -S");
  l.push_back("ATTRIB " + w + "\\USER.DAT -R -A -H -S");
  if (f) {
    l.push_back("IF EXIST " + p + "\\RESCUE\\CLASSES.DAT GOTO COPYCLASSES");
    l.push_back(":RET1");
  }
  l.push_back("IF EXIST " + p + "\\RESCUE\\SYSTEM.DAT GOTO COPYSYSDAT");
  l.push_back(":RET2");
  l.push_back("IF EXIST " + p + "\\RESCUE\\USER.DAT GOTO COPYUSRDAT");
  l.push_back(":RET3");
  l.push_back("IF EXIST " + p + "\\RESCUE\\SYSTEM.INI GOTO COPYSYSINI");
  l.push_back(":RET4");
  l.push_back("IF EXIST " + p + "\\RESCUE\\WIN.INI GOTO COPYWININI");
  l.push_back("GOTO BRLJOTINA");
  l.push_back("");
  l.push_back(":COPYCLASSES");
  l.push_back("COPY " + p + "\\RESCUE\\CLASSES.DAT " + w);
  l.push_back("ATTRIB " + p + "\\RESCUE\\CLASSES.DAT +R +A +H +S");
  l.push_back("ATTRIB " + w + "\\CLASSES.DAT +R +A +H +S");
  l.push_back("GOTO RET1");
  l.push_back("");
  l.push_back(":COPYSYSDAT");
  l.push_back("COPY " + p + "\\RESCUE\\SYSTEM.DAT " + w);
  l.push_back("ATTRIB " + p + "\\RESCUE\\SYSTEM.DAT +R +A +H +S");
  l.push_back("ATTRIB " + w + "\\SYSTEM.DAT +R +A +H +S");
  l.push_back("GOTO RET2");
  l.push_back("");
  l.push_back(":COPYUSRDAT");
  l.push_back("COPY " + p + "\\RESCUE\\USER.DAT " + w);
  l.push_back("ATTRIB " + p + "\\RESCUE\\USER.DAT +R +A +H +S");
  l.push_back("ATTRIB " + w + "\\USER.DAT +R +A +H +S");
  l.push_back("GOTO RET3");
  l.push_back("");
  l.push_back(":COPYSYSINI");
  l.push_back("COPY " + p + "\\RESCUE\\SYSTEM.INI " + w);
  l.push_back("GOTO RET4");
  l.push_back("");
  l.push_back(":COPYWININI");
  l.push_back("COPY " + p + "\\RESCUE\\WIN.INI " + w);
  l.push_back("GOTO END");
  l.push_back("");
  l.push_back(":BRLJOTINA");
  l.push_back("ECHO *");
  l.push_back("ECHO FILE NOT FOUND !");
  l.push_back("ECHO *");
  l.push_back("GOTO KRAJ");
  l.push_back("");
  l.push_back(":END");
  l.push_back("ECHO *");
  l.push_back("ECHO SYSTEM FILES RESTORATION WAS SUCCESSFULL.");
  l.push_back("ECHO IN CASE OF 'FILE NOT FOUND' MESSAGE");
  l.push_back("ECHO PLEASE,CONSULT QUALIFIED TECHNICAL SUPPORT.");
  l.push_back("ECHO *");
  l.push_back("GOTO X");
  l.push_back("");
  l.push_back(":KRAJ");
  l.push_back("ECHO *");
  l.push_back("ECHO PLEASE,CONSULT QUALIFIED TECHNICAL SUPPORT...");
  l.push_back("ECHO *");
  l.push_back("");
  l.push_back(":X");
  l.push_back("ECHO PLEASE ,REMOVE DISK AFTER SYSTEM REBOOT...");
  l.push_back("PAUSE");
  l.push_back("DOSRESET.COM");
  l.push_back("");
  return joinLines(l);
}

std::string reinstallAutoexec(const std::string& w, bool f) {
  std::vector<std::string> l = {
      "@ECHO OFF",
      "PROMPT=$P$G",
      "PATH=A:\\",
      "SET DIRCMD=/OGNES",
      "LH MSCDEX.EXE /D:MSCD001 /L:X",
      "LH DOSKEY /INS",
      "LH SMARTDRV",
      "",
      "",
      "",
      "CLS",
      "ECHO.  Deleting your test Windows directory",
      "ECHO.  Depending of your system speed and size",
      "ECHO.  of your Windows directory it may take from",
      "ECHO.  few minutes to few hours",
      "ECHO.  Please ,wait...",
      "ECHO.",
      "DELTREE /Y " + w,
  };
  if (f) l.push_back("DELTREE /Y " + w.substr(0, 2) + "\\_restore");
  for (const char* s : {"ECHO.  Windows directory successfully deleted .", "ECHO.", ":RET4",
                        "ECHO.  Starting new Windows instalation ,",
                        "ECHO.  please follow onscreen instructions...", "ECHO.", "X:\\SETUP"})
    l.push_back(s);
  return joinLines(l);
}

}  // namespace app
