#include "graphics/archive.h"

#include "graphics/spi_bitmap.h"
#include "graphics/spi_decode.h"
#include "picture/picture.h"
#include "plugins/spis.h"
#include "rtl/format.h"
#include "rtl/streams.h"
#include "rtl/text.h"

namespace {

// An entry's name with "/" (which some plug-ins keep) as "\": 0x2F is never the trail byte of
// a double-byte character, so every one of them is a separator.
std::string Normalized(const std::string& name) {
  std::string n = name;
  for (char& c : n)
    if (c == '/') c = '\\';
  return n;
}

[[noreturn]] void RaiseFault(const TSPI& plugin, const spirun::Fault& fault) {
  if (fault.What == spirun::Fault::kAbandoned) throw EAbort("");
  throw ESPIPluginFault(PluginFaultMessage(plugin.FileName(), fault));
}

spirun::Input FileInput(const std::string& fileName) {
  spirun::Input input;
  input.Flag = SPI_INPUT_FILE;
  input.FileName = fileName;
  input.Offset = 0;
  return input;
}

}  // namespace

std::shared_ptr<TArchive> TArchive::Open(const std::string& fileName) {
  TSPIs* set = GetSPIs();
  if (!set) return nullptr;
  std::vector<TSPI*> found;
  set->FindSPIs({&TAmSPI::Class}, fileName, found);
  if (found.empty()) return nullptr;
  const platform::FileStamp stamp = platform::StampOf(fileName);
  uint8_t header[spirun::kHeaderBytes] = {};
  {
    const platform::File f(platform::FileOpenRead(fileName));
    if (f) platform::FileRead(f.Get(), header, sizeof header);
  }
  std::string firstFault;
  for (TSPI* module : found) {
    auto* plugin = static_cast<TAmSPI*>(module);
    spirun::Fault fault;
    const int32_t supported = plugin->RunIsSupported(fileName, header, 0, fault);
    if (fault) {
      if (fault.What == spirun::Fault::kAbandoned) throw EAbort("");
      if (firstFault.empty()) firstFault = PluginFaultMessage(plugin->FileName(), fault);
      continue;
    }
    if (supported == 0) continue;
    std::shared_ptr<TArchive> archive(new TArchive());
    archive->fileName_ = fileName;
    archive->stamp_ = stamp;
    archive->plugin_ = plugin;
    const int32_t result =
        plugin->RunGetArchiveInfo(FileInput(fileName), archive->entries_, archive->cut_, fault);
    if (fault) RaiseFault(*plugin, fault);
    if (result != SPI_SUCCESS)
      throw EArchiveError(FormatMixed(msg::kArchiveUnreadable,
                                      {text::ExtractFileName(plugin->FileName()), std::to_string(result)}));
    for (size_t i = 0; i < archive->entries_.size(); ++i)
      archive->byName_.emplace(Normalized(archive->entries_[i].Name()), i);
    return archive;
  }
  if (!firstFault.empty()) throw ESPIPluginFault(firstFault);
  return nullptr;
}

std::vector<std::string> TArchive::EntryNames() const {
  std::vector<std::string> names;
  names.reserve(entries_.size());
  for (const spirun::ArchiveEntry& e : entries_)
    if (!e.FileName.empty()) names.push_back(e.Name());
  return names;
}

const spirun::ArchiveEntry* TArchive::Find(const std::string& entry) const {
  const std::string key = Normalized(entry);
  auto it = byName_.find(key);
  if (it != byName_.end()) return &entries_[it->second];
  // Letter case aside, as the folder list compares names.
  for (const auto& named : byName_)
    if (text::AnsiCompareText(named.first, key) == 0) return &entries_[named.second];
  return nullptr;
}

std::vector<uint8_t> TArchive::Extract(const std::string& entry, uint64_t limit) const {
  const spirun::ArchiveEntry* e = Find(entry);
  if (!e || e->FileName.empty()) throw EArchiveError(FormatMixed(msg::kArchiveEntryMissing, {entry}));
  // Refused before anything of that size is asked for; an entry whose record understates it is
  // cut off by the runner at the limit.
  if (e->FileSize > limit) throw EArchiveError(FormatMixed(msg::kArchiveEntryTooLarge, {entry}));
  std::vector<uint8_t> bytes;
  spirun::Fault fault;
  const int32_t result = plugin_->RunGetFile(
      FileInput(fileName_), *e, limit, [](int32_t, int32_t) { return 0; }, bytes, fault);
  if (fault) RaiseFault(*plugin_, fault);
  if (result == SPI_NO_MEMORY) throw EArchiveError(FormatMixed(msg::kArchiveEntryTooLarge, {entry}));
  if (result != SPI_SUCCESS)
    throw EArchiveError(FormatMixed(msg::kArchiveEntryUnreadable, {text::ExtractFileName(plugin_->FileName()),
                                                                   entry, std::to_string(result)}));
  return bytes;
}

std::unique_ptr<TGraphic> TArchive::LoadPage(const std::string& entry, uint64_t limit,
                                             const TProgressEvent& listener) const {
  std::unique_ptr<TGraphic> graphic = NewGraphicFor(entry);
  const std::vector<uint8_t> bytes = Extract(entry, limit);
  TPointerStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
  graphic->OnProgress = listener;
  if (graphic->InheritsFrom(&TSPIBitmap::Class))
    static_cast<TSPIBitmap*>(graphic.get())->LoadFromStreamWithName(stream, entry);
  else
    graphic->LoadStream(stream);
  return graphic;
}

std::string TArchive::PageKey(const std::string& archive, const std::string& entry) {
  std::string key = archive;
  key += '\0';
  key += entry;
  return key;
}

bool TArchive::SplitPageKey(const std::string& key, std::string& archive, std::string& entry) {
  const size_t nul = key.find('\0');
  if (nul == std::string::npos) return false;
  archive = key.substr(0, nul);
  entry = key.substr(nul + 1);
  return true;
}
