// A temporary machine root for one test: made fresh, removed with everything in it.
#pragma once

#include <string>
#include <string_view>

namespace qmx::test {

class TempRoot {
 public:
  TempRoot();
  ~TempRoot();
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;

  // The root's host path (no trailing "/").
  const std::string& path() const { return path_; }
  // The host path of a file or folder below the root ("drive_c/Data").
  std::string at(std::string_view relative) const;

  // Writes bytes to a file below the root, creating missing folders.
  void write(std::string_view relative, std::string_view bytes) const;
  // Reads a file below the root; empty text when it is missing.
  std::string read(std::string_view relative) const;
  bool exists(std::string_view relative) const;
  // Creates a folder below the root with its missing parents.
  void makeFolder(std::string_view relative) const;

  // Writes registry.reg as a Windows "Version 5.00" export, UTF-16LE with BOM;
  // the text is UTF-8 within the Basic Multilingual Plane, its lines end in "\n"
  // (written as CR LF).
  void writeRegistryUtf16(std::string_view text) const;
  // A registry export with one installation of the company: data under C:\QMXData
  // (location 12, so C:\QMXData\12), machine number 7, no preprinted invoices.
  static std::string oneInstallation(std::string_view companyId, std::string_view location = "12");
  // Writes that as registry.reg; the drive and the data folder are for the caller to make.
  void writeOneInstallation(std::string_view companyId) const { writeRegistryUtf16(oneInstallation(companyId)); }

 private:
  std::string path_;
};

}  // namespace qmx::test
