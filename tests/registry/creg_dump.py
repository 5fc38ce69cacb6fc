# Every key and value of a registry file as libcreg reads it, one line each,
# in enumeration order:
#   K DEPTH NAME            a key (the root key is depth 0, no name)
#   V NAME TYPE DATA        a value of the key above
# NAME and DATA in hex (names as Windows-1252 bytes). Exit status 1 and a
# message when libcreg cannot read the file or calls a part of it corrupted.
import sys

import pycreg


def ansi(text):
    return (text or "").encode("cp1252").hex()


def main(path):
    f = pycreg.file()
    f.open(path)
    out = sys.stdout
    stack = [(f.get_root_key(), 0)]
    while stack:
        key, depth = stack.pop()
        if depth and key.is_corrupted():
            sys.exit("libcreg: key at offset %d is corrupted" % key.get_offset())
        out.write("K %d %s\n" % (depth, ansi(key.get_name()) if depth else ""))
        for i in range(key.get_number_of_values()):
            v = key.get_value(i)
            if v.is_corrupted():
                sys.exit("libcreg: value %d of key at offset %d is corrupted" % (i, key.get_offset()))
            out.write("V %s %d %s\n" % (ansi(v.get_name()), v.get_type(), (v.get_data() or b"").hex()))
        n = key.get_number_of_sub_keys()
        for i in range(n - 1, -1, -1):
            stack.append((key.get_sub_key(i), depth + 1))
    if f.is_corrupted():
        sys.exit("libcreg: the file is corrupted")
    f.close()


main(sys.argv[1])
