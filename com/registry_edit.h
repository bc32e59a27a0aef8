// Registry writes under one root that can be undone: every key created and
// every value replaced is recorded, so a registration that fails part-way
// leaves the registry as it found it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace qmx::com {

class RegistryEdit {
 public:
  explicit RegistryEdit(HKEY root) : root_(root) {}
  virtual ~RegistryEdit() = default;
  RegistryEdit(const RegistryEdit&) = delete;
  RegistryEdit& operator=(const RegistryEdit&) = delete;

  // Sets a string value (the default one for an empty name) of a key in a
  // registry view (KEY_WOW64_32KEY or KEY_WOW64_64KEY), making the key and
  // its parents as needed.
  bool setString(REGSAM view, const std::wstring& key, const std::wstring& name, const std::wstring& value);
  // Deletes a key with everything under it; true when it is gone. Not undone.
  bool removeTree(REGSAM view, const std::wstring& key);
  // Deletes a key only when nothing is left under it. Not undone.
  void removeIfEmpty(REGSAM view, const std::wstring& key);
  bool exists(REGSAM view, const std::wstring& key) const;
  // Undoes every write since construction, newest first.
  void rollback();

 protected:
  // Asked before each recorded write; anything but ERROR_SUCCESS fails it
  // (tests refuse writes here).
  virtual LONG beforeWrite() { return ERROR_SUCCESS; }

 private:
  struct Undo {
    REGSAM view;
    std::wstring key;
    bool created;  // the key was made: delete it; else restore the value
    std::wstring name;
    bool hadValue;
    DWORD type;
    std::vector<BYTE> data;
  };
  bool openCreating(REGSAM view, const std::wstring& key, HKEY* out);

  HKEY root_;
  std::vector<Undo> undo_;
};

}  // namespace qmx::com
