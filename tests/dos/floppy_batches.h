#pragma once
// The two A:\Autoexec.bat files the program writes, line by line as the
// program writes them. {P}: short program folder, {W}: short Windows folder.
#include <string>
#include <vector>

namespace dostest {

inline std::vector<std::string> rescueAutoexec(const std::string& P, const std::string& W,
                                               bool classes) {
  std::vector<std::string> l;
  auto add = [&](std::string s) { l.push_back(std::move(s)); };
  add("@ECHO OFF");
  add("CLS");
  if (classes) {
    add("ECHO ACCESSING BACKUP FILE CLASSES.DAT .....");
    add("ATTRIB " + P + "\\RESCUE\\CLASSES.DAT -R -A -H -S");
    add("ATTRIB " + W + "\\CLASSES.DAT -R -A -H -S");
  }
  add("ECHO ACCESSING BACKUP FILE SYSTEM.DAT .....");
  add("ATTRIB " + P + "\\RESCUE\\SYSTEM.DAT -R -A -H -S");
  add("ATTRIB " + W + "\\SYSTEM.DAT -R -A -H -S");
  add("ECHO ACCESSING BACKUP FILE USER.DAT .....");
  add("ATTRIB " + P + "\\RESCUE\\USER.DAT -R -A -H -S");
  add("ATTRIB " + W + "\\USER.DAT -R -A -H -S");
  if (classes) {
    add("IF EXIST " + P + "\\RESCUE\\CLASSES.DAT GOTO COPYCLASSES");
    add(":RET1");
  }
  add("IF EXIST " + P + "\\RESCUE\\SYSTEM.DAT GOTO COPYSYSDAT");
  add(":RET2");
  add("IF EXIST " + P + "\\RESCUE\\USER.DAT GOTO COPYUSRDAT");
  add(":RET3");
  add("IF EXIST " + P + "\\RESCUE\\SYSTEM.INI GOTO COPYSYSINI");
  add(":RET4");
  add("IF EXIST " + P + "\\RESCUE\\WIN.INI GOTO COPYWININI");
  add("GOTO BRLJOTINA");
  add("");
  add(":COPYCLASSES");
  add("COPY " + P + "\\RESCUE\\CLASSES.DAT " + W);
  add("ATTRIB " + P + "\\RESCUE\\CLASSES.DAT +R +A +H +S");
  add("ATTRIB " + W + "\\CLASSES.DAT +R +A +H +S");
  add("GOTO RET1");
  add("");
  add(":COPYSYSDAT");
  add("COPY " + P + "\\RESCUE\\SYSTEM.DAT " + W);
  add("ATTRIB " + P + "\\RESCUE\\SYSTEM.DAT +R +A +H +S");
  add("ATTRIB " + W + "\\SYSTEM.DAT +R +A +H +S");
  add("GOTO RET2");
  add("");
  add(":COPYUSRDAT");
  add("COPY " + P + "\\RESCUE\\USER.DAT " + W);
  add("ATTRIB " + P + "\\RESCUE\\USER.DAT +R +A +H +S");
  add("ATTRIB " + W + "\\USER.DAT +R +A +H +S");
  add("GOTO RET3");
  add("");
  add(":COPYSYSINI");
  add("COPY " + P + "\\RESCUE\\SYSTEM.INI " + W);
  add("GOTO RET4");
  add("");
  add(":COPYWININI");
  add("COPY " + P + "\\RESCUE\\WIN.INI " + W);
  add("GOTO END");
  add("");
  add(":BRLJOTINA");
  add("ECHO *");
  add("ECHO FILE NOT FOUND !");
  add("ECHO *");
  add("GOTO KRAJ");
  add("");
  add(":END");
  add("ECHO *");
  add("ECHO SYSTEM FILES RESTORATION WAS SUCCESSFULL.");
  add("ECHO IN CASE OF 'FILE NOT FOUND' MESSAGE");
  add("ECHO PLEASE,CONSULT QUALIFIED TECHNICAL SUPPORT.");
  add("ECHO *");
  add("GOTO X");
  add("");
  add(":KRAJ");
  add("ECHO *");
  add("ECHO PLEASE,CONSULT QUALIFIED TECHNICAL SUPPORT...");
  add("ECHO *");
  add("");
  add(":X");
  add("ECHO PLEASE ,REMOVE DISK AFTER SYSTEM REBOOT...");
  add("PAUSE");
  add("DOSRESET.COM");
  add("");
  return l;
}

inline std::vector<std::string> reinstallAutoexec(const std::string& W, bool classes) {
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
      "DELTREE /Y " + W,
  };
  if (classes) l.push_back("DELTREE /Y " + W.substr(0, 2) + "\\_restore");
  for (const char* s : {"ECHO.  Windows directory successfully deleted .", "ECHO.", ":RET4",
                        "ECHO.  Starting new Windows instalation ,",
                        "ECHO.  please follow onscreen instructions...", "ECHO.", "X:\\SETUP"})
    l.push_back(s);
  return l;
}

}  // namespace dostest
