// Shared helpers of the plug-in host tests: where the fixture plug-ins are, scratch folders
// of copies, and the Susie folder value of the registry (the real one under Wine, the
// REGEDIT4 stand-in natively).
#ifndef KORVALE_TESTS_PLUGINS_HOST_FIXTURES_H
#define KORVALE_TESTS_PLUGINS_HOST_FIXTURES_H

#include <filesystem>
#include <string>
#include <vector>

namespace hostfx {

namespace fs = std::filesystem;

// The host path of a fixture plug-in, e.g. Fixture("fx_in").
fs::path Fixture(const std::string& name);
// A host path in the core's form ("\" separators; a drive letter under Wine).
std::string Core(const fs::path& p);
// Core(Fixture(name)).
std::string CoreFixture(const std::string& name);

// A fresh, empty folder that is removed with the object.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const fs::path& Path() const { return path_; }
  std::string Core() const;  // with a trailing "\"
  // Copies fixture `fixture` in as `name`; returns the copy's core path.
  std::string Add(const std::string& fixture, const std::string& name) const;
  // Writes a plain file; `hidden` sets the hidden attribute on Win32 (natively use a leading ".").
  std::string Write(const std::string& name, const std::string& content, bool hidden = false) const;
  void Hide(const std::string& name) const;
  fs::path Sub(const std::string& name) const;

 private:
  fs::path path_;
};

// The Susie plug-in folder value: set as a string, an expandable string or a number, or gone.
enum class ValueKind { String, Expandable, Number };
void SetSusieValue(const std::string& data, ValueKind kind = ValueKind::String);
void ClearSusieKey();

}  // namespace hostfx

#endif
