# cmake -DIN=file -DOUT=file -P crlf.cmake: a text file as DOS reads it (CR LF).
file(READ "${IN}" text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUT}" "${text}")
