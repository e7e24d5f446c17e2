#include "plugins/spis.h"

#include <algorithm>

#include "picture/picture.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "rtl/format.h"
#include "rtl/messages.h"
#include "rtl/text.h"

namespace {
// The one plug-in set of the program, and the class every plug-in format is registered with.
TSPIs* g_instance = nullptr;
TGraphicClass g_defaultGraphicClass = nullptr;

constexpr const char kSusieKey[] = "\\Software\\Dorvenik\\Susie\\Plug-in";
constexpr const char kSusiePathValue[] = "Path";

// Hidden entries and folders never become plug-ins; read-only, system and archive files do.
bool IsCandidate(const platform::FindEntry& e) {
  return (e.Attributes & (platform::faHidden | platform::faDirectory | platform::faVolumeID)) == 0;
}

// The Susie plug-in folder from the registry, or empty.  Problems of any kind (no key, no
// value, a value that is not a string) skip the folder without a report.
std::string SusieFolder() {
  try {
    platform::RegistryKey key;
    if (!key.OpenCurrentUser(kSusieKey)) return std::string();
    platform::RegValue value;
    if (!key.ReadValue(kSusiePathValue, value) || value.Type == platform::RegType::Other)
      return std::string();
    return value.Data;
  } catch (const std::exception&) {
    return std::string();
  }
}
}  // namespace

TSPIs::TSPIs(TComponent* owner) : TComponent(owner) {
  // Thrown before the module list exists; the existing set stays the single instance.
  if (g_instance) throw ESPIDupCreateSPIs(msg::kSPIDupCreateSPIs);
  g_instance = this;
  list_ = std::make_unique<std::vector<std::unique_ptr<TSPI>>>();
}

TSPIs::~TSPIs() {
  if (g_instance == this) g_instance = nullptr;
  if (list_) Clear();
  list_.reset();
}

TSPIs* GetSPIs() { return g_instance; }

void TSPIs::SetDefaultGraphicClass(TGraphicClass cls) { g_defaultGraphicClass = cls; }
TGraphicClass TSPIs::DefaultGraphicClass() { return g_defaultGraphicClass; }

void RaiseMissingHelper() {
  const std::string helper = spirun::Current().TakeMissingHelper();
  if (!helper.empty()) throw ESPIHelperMissing(FormatMixed(msg::kHelperCannotStart, {helper}));
}

void TSPIs::SettingsApplied() {
  if (autoSearch_) SearchFolders({"*.spi", "*.sph"});
}

int TSPIs::Count() const { return static_cast<int>(list_->size()); }

TSPI* TSPIs::Items(int index) const {
  if (index < 0 || index >= Count()) ListIndexError(index);
  return (*list_)[static_cast<size_t>(index)].get();
}

void TSPIs::Add(std::unique_ptr<TSPI> spi) { Insert(Count(), std::move(spi)); }

void TSPIs::Insert(int index, std::unique_ptr<TSPI> spi) {
  if (index < 0 || index > Count()) ListIndexError(index);
  TSPI* module = spi.get();
  if (!module) return;  // nothing to own
  list_->insert(list_->begin() + index, std::move(spi));
  if (module && module->InheritsFrom(&TInSPI::Class)) RegisterFormats(static_cast<TInSPI&>(*module));
}

void TSPIs::Delete(int index) {
  if (index < 0 || index >= Count()) ListIndexError(index);
  auto it = list_->begin() + index;
  // The forced loader must never outlive its module.
  if (graphicForcedLoader_ && graphicForcedLoader_ == it->get()) graphicForcedLoader_ = nullptr;
  it->reset();
  list_->erase(it);
}

void TSPIs::Clear() {
  while (!list_->empty()) Delete(0);
}

int TSPIs::IndexOfFile(const std::string& fileName) const {
  for (size_t i = 0; i < list_->size(); ++i)
    if (text::SameText((*list_)[i]->FileName(), fileName)) return static_cast<int>(i);
  return -1;
}

void TSPIs::RegisterFormats(TInSPI& spi) {
  const TStringList& extensions = spi.Extensions();
  const TStringList& descriptions = spi.Descriptions();
  for (int i = 0; i < extensions.Count(); ++i) {
    TGraphicClass cls = g_defaultGraphicClass;
    const std::string& description = descriptions[i];
    std::string rest = extensions[i];
    // The patterns of one item go last to first; a class the handler picks carries on to the
    // item's earlier patterns.
    while (!rest.empty()) {
      std::string part;
      size_t semicolon = rest.rfind(';');
      if (semicolon != std::string::npos) {
        part = rest.substr(semicolon + 1);
        rest.erase(semicolon);
      } else {
        part.swap(rest);
      }
      size_t dot = part.find('.');
      std::string extension = dot == std::string::npos ? part : part.substr(dot + 1);
      if (OnPictureRegister) OnPictureRegister(this, &spi, extension, description, cls);
      if (cls) TPicture::RegisterFormat(extension, description, cls);
    }
  }
}

void TSPIs::FindSPIs(const std::vector<TSPIClass>& classes, const std::string& fileName,
                     std::vector<TSPI*>& list) const {
  const std::string ext = text::ExtractFileExt(fileName);
  for (const auto& module : *list_) {
    bool wanted =
        std::any_of(classes.begin(), classes.end(), [&](TSPIClass c) { return module->InheritsFrom(c); });
    if (!wanted) continue;
    bool matches = false;
    if (!ext.empty()) {
      const TStringList& items = module->Extensions();
      for (int i = 0; i < items.Count() && !matches; ++i)
        matches = text::SameText(text::ExtractFileExt(items[i]), ext);
    }
    if (matches)
      list.insert(list.begin(), module.get());
    else
      list.push_back(module.get());
  }
}

void TSPIs::Search(const std::string& mask) {
  const int split = text::LastDelimiter("\\:", mask);
  if (split >= 0) {
    SearchDir(text::IncludeTrailingPathDelimiter(mask.substr(0, static_cast<size_t>(split) + 1)),
              {mask.substr(static_cast<size_t>(split) + 1)});
    return;
  }
  SearchFolders({mask});
}

void TSPIs::SearchFolders(const std::vector<std::string>& masks) {
  auto searchIn = [&](const std::string& folder) {
    if (!folder.empty()) SearchDir(text::IncludeTrailingPathDelimiter(folder), masks);
  };
  if (searchOptions_.Contains(spsSusieDir)) searchIn(SusieFolder());
  if (searchOptions_.Contains(spsAppDir)) searchIn(text::ExtractFilePath(platform::ExeFileName()));
  if (searchOptions_.Contains(spsCurrentDir)) searchIn(platform::GetCurrentDir());
  if (searchOptions_.Contains(spsSystemDir)) searchIn(platform::SystemDirectory());
  if (searchOptions_.Contains(spsWindowsDir)) searchIn(platform::WindowsDirectory());
}

void TSPIs::SearchDir(const std::string& folder, const std::vector<std::string>& masks) {
  // Candidates are judged against the modules held before this folder only.  One mask is asked
  // of the system as it stands; several are matched against the folder's listing, so that the
  // files of all of them come in the folder's own order.
  std::vector<std::string> candidates;
  {
    platform::FileFinder finder(folder + (masks.size() == 1 ? masks.front() : std::string("*")));
    platform::FindEntry entry;
    while (finder.Next(entry)) {
      if (!IsCandidate(entry)) continue;
      if (masks.size() > 1 && std::none_of(masks.begin(), masks.end(), [&](const std::string& m) {
            return platform::MatchesWildcard(entry.Name, m);
          }))
        continue;
      std::string path = folder + entry.Name;
      if (IndexOfFile(path) == -1) candidates.push_back(path);
    }
  }
  // Each candidate's construction loads it first as a plain module.
  spirun::Runner& runner = spirun::Current();
  runner.Expect(candidates, 1u << TSPI::psGetPluginInfo);
  for (const std::string& path : candidates) {
    // A plug-in that cannot run here (its bitness, or its helper) is left out with the reason.
    std::string reason = runner.Unrunnable(path);
    if (!reason.empty()) {
      skipped_.push_back(TSkipped{path, std::move(reason)});
      continue;
    }
    bool accept = true;
    if (OnSearching) OnSearching(this, path, accept);  // an error here ends the search
    if (!accept) continue;
    std::unique_ptr<TSPI> spi = CreateSPI(path);  // so does an error of identification
    if (!spi) continue;
    TSPI* module = spi.get();
    try {
      accept = true;
      if (OnSearch) OnSearch(this, module, accept);
      if (accept) Add(std::move(spi));
    } catch (...) {
      // The module must not stay in the set; the error is dropped and the search goes on.
      auto it = std::find_if(list_->begin(), list_->end(), [&](const auto& m) { return m.get() == module; });
      if (it != list_->end()) Delete(static_cast<int>(it - list_->begin()));
    }
  }
}
