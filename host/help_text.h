// The statement language and output formats of qmxhost, as --help shows them.
#pragma once

namespace qmx::host {

inline constexpr const char* kHelpText = R"(
Commands:
  qmxhost [--root DIR] [--json] [SCRIPT]   run SCRIPT (standard input when absent or -)
  qmxhost registry [--root DIR]            print registry.reg as parsed; a warning on
                                           standard error for every line not understood
                                           (exit status 1 when there was one)
A script file named "registry" must be given with a path: ./registry

Script: one statement a line; blank lines and lines starting with # are skipped.
  Member arg ...             call a method (or read a property)
  Property                   read a property
  Property = value           write a property
  $name = Member arg ...     keep a call's result in a variable
  $name = value              set a variable
  print value                show a value, e.g. print $name
Member names and variable names ignore letter case. A variable must be set on an
earlier line before it is used. A variable passed where the member takes an
argument by reference receives the text the member leaves there (FileEncodeAndDecode's
first argument, XMLLoad's first argument). A trailing optional argument may be left out.

Values:
  "text"        escapes \\ \" \n \r \t, \xHH (the character U+00HH), \u{H...} (any character)
  True False    Booleans
  Empty Null    the empty value and Null (Null passed as text fails with error 94)
  12 -7 70000   whole numbers: Integer up to 16 bits, Long up to 32 bits, else Double
  1.5 2e3       Doubles
  $name         a variable

Output (standard output, one line per event, in order):
  = VALUE                 result of a call, a property read or print; VALUE is Empty,
                          Null, Nothing, True, False, a number, a quoted text, or
                          xml "..." for a document (its XML text)
  ~ Name                  property-change notification
  ! msgbox "text"         message box (in a terminal qmxhost waits for Enter)
  ! error N "description" a statement failed; the script goes on
Texts are quoted as the script writes them, so output can be pasted back: printable
ASCII as is; \\ \" \n \r \t; other characters up to U+00FF as \xHH; characters
above as \u{H...}.
Property writes and variable assignments print no = line, only their notifications.
Errors of the dispatch layer: 438 unknown member, 450 wrong number of arguments
(or an assignment to a method), 383 writing the read-only LevelNum.

--json writes one JSON object per line instead:
  {"event":"result","type":"Text","value":"abc"}
      type: Empty, Null, Nothing (value null), Boolean, Integer, Long, Double,
      Text, XmlDocument (value: the XML text)
  {"event":"notify","name":"DataPath"}
  {"event":"msgbox","text":"..."}
  {"event":"error","number":5,"description":"...","line":3}   (no line: start-up)

Exit status: 0 when no statement failed, 1 when one did (or the start-up did),
2 when the script cannot be read or parsed (nothing runs; the line is named on
standard error).

Example:
  # show the installation, then scramble a text twice
  Configured
  CompanyID
  $s = FileEncodeAndDecode "hello" "key"
  FileEncodeAndDecode $s "key"
  ServerBase = " http://127.0.0.1:8631 "
  ServerBase
)";

}  // namespace qmx::host
