// A machine for page-loading, refresh and upload tests: a temporary root whose
// registry holds one installation (company "A&B Co", location 3, machine 42,
// data under C:\Data), the POSIX platform over it with message boxes recorded,
// a control created over it, and a recording peer as the server.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "control/xmlload.h"
#include "platform/posix/posix_platform.h"
#include "support/recording_peer.h"
#include "support/temp_root.h"

namespace qmx::test {

struct SyncWorld {
  // The data directory as the control names it, and its folder below the root.
  static constexpr const char* kDataPath = "C:\\Data\\3";
  static constexpr const char* kDataFolder = "drive_c/Data/3";

  TempRoot root;
  std::vector<std::string> messages;
  std::unique_ptr<PosixPlatform> platform;
  std::unique_ptr<XMLLoad> control;
  RecordingPeer peer;

  SyncWorld() {
    root.makeFolder("drive_c");  // the drive exists; the data directory not yet
    root.writeRegistryUtf16(
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora Solutions\\Velmora.Net\\Shop]\n@=\"A&B Co\"\n\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora Solutions\\Velmora.Net\\Shop\\DataPath]\n@=\"C:\\\\Data\"\n\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora Solutions\\Velmora.Net\\Shop\\fkLocationID]\n@=\"3\"\n\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora Solutions\\Velmora.Net\\Shop\\iKey]\n@=\"42\"\n\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora Solutions\\Velmora.Net\\Shop\\InvoicePreprint]\n@=\"False\"\n");
    platform = std::make_unique<PosixPlatform>(root.path(),
                                               [this](const std::string& text) { messages.push_back(text); });
    control = std::make_unique<XMLLoad>(*platform);
    if (control->startupError()) throw *control->startupError();
    control->put_ServerBase(peer.base());
  }

  // A file in the data directory, by its name there ("c.xml", "SavedFiles/a.xml").
  std::string dataFile(const std::string& name) const { return std::string(kDataFolder) + "/" + name; }
  void putDataFile(const std::string& name, const std::string& bytes) const { root.write(dataFile(name), bytes); }
  std::string readDataFile(const std::string& name) const { return root.read(dataFile(name)); }
  bool hasDataFile(const std::string& name) const { return root.exists(dataFile(name)); }
  // The address of the peer's data page.
  std::string page() const { return peer.base() + "data.asp"; }
};

}  // namespace qmx::test
