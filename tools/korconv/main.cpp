// korconv: the command-line companion of the viewer.  It opens any picture the viewer can
// open, through the same picture container and format registry, and
//   korconv INPUT OUTPUT     writes it as a BMP file;
//   korconv --info INPUT     prints "WIDTHxHEIGHT BPP bpp CLASSNAME";
//   korconv ARCHIVE --list   lists the archive's pages in the viewer's order, one per line;
//   korconv --plugins        lists the plug-ins it found, one line per module.
// INPUT may be a page of an archive: the archive's path, "\" and the entry's name
// ("book.zip\01\02.png").
// Exit status 0 on success; on failure the system's message goes to stderr and the status
// is 1.
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "graphics/archive.h"
#include "graphics/prepared.h"
#include "picture/bitmap.h"
#include "picture/book.h"
#include "picture/picture.h"
#include "picture/render.h"
#include "platform/console.h"
#include "platform/dynlib.h"
#include "platform/files.h"
#include "runner/bitness.h"
#include "plugins/spis.h"
#include "rtl/exceptions.h"
#include "rtl/messages.h"

namespace {

using Args = std::vector<std::string>;  // the command's operands, in UTF-8

// An operand as the core can open it (see platform::ReachableName); a name that no form reaches
// is reported with the message of a file that cannot be opened (or created).
std::string InputName(const std::string& operand) {
  std::string name = platform::ReachableName(operand, false);
  if (name.empty()) throw EFOpenError(FormatMixed(msg::kFOpenError, {platform::ArgumentToAnsi(operand)}));
  return name;
}

std::string OutputName(const std::string& operand) {
  std::string name = platform::ReachableName(operand, true);
  if (name.empty()) throw EFCreateError(FormatMixed(msg::kFCreateError, {platform::ArgumentToAnsi(operand)}));
  return name;
}

// The archive of an operand that names a page inside one: the longest part before a "\" (or
// "/") that is an existing file, and the entry's name after it.  False when the operand is a file
// itself or no part of it is one.
bool SplitPageOperand(const std::string& operand, std::string& archive, std::string& entry) {
  if (!platform::ReachableName(operand, false).empty() && platform::FileExists(InputName(operand)))
    return false;
  for (size_t i = operand.size(); i-- > 1;) {
    if (operand[i] != '\\' && operand[i] != '/') continue;
    const std::string name = platform::ReachableName(operand.substr(0, i), false);
    if (name.empty() || !platform::FileExists(name)) continue;
    archive = name;
    entry = platform::ArgumentToAnsi(operand.substr(i + 1));
    return !entry.empty();
  }
  return false;
}

// The archive `fileName` as the archive plug-ins list it.
std::shared_ptr<TArchive> OpenArchive(const std::string& fileName) {
  std::shared_ptr<TArchive> archive = TArchive::Open(fileName);
  if (!archive) throw EArchiveError(FormatMixed(msg::kNotAnArchive, {fileName}));
  return archive;
}

// Loads a file, or a page of an archive, into `picture`.
void LoadInput(TPicture& picture, const std::string& operand) {
  std::string archive, entry;
  if (SplitPageOperand(operand, archive, entry)) {
    picture.Exchange(OpenArchive(archive)->LoadPage(entry, TPicturePreparer::DefaultBudget()));
    return;
  }
  picture.LoadFile(InputName(operand));
}

// The pages of an archive, as the viewer steps through them.
int ListPages(const Args& args) {
  const std::shared_ptr<TArchive> archive = OpenArchive(InputName(args[0]));
  const TBook book(archive->FileName(), archive->EntryNames());
  if (book.Empty()) throw EArchiveError(FormatMixed(msg::kArchiveNoPictures, {archive->FileName()}));
  for (const std::string& page : book.Pages()) {
    const std::string line = platform::NameToConsole(page) + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
  }
  return 0;
}

// Writes the picture as a BMP file.  A bitmap is saved as it is held; an icon or a metafile
// is saved as the picture it shows, at its own size, so that nothing empty is written.  The
// output is named only once the picture has loaded, so a failed load creates no file.
int Convert(const Args& args) {
  TPicture picture;
  LoadInput(picture, args[0]);
  TGraphic* graphic = picture.Graphic();
  if (graphic && !graphic->InheritsFrom(&TBitmap::Class))
    RenderToBitmap(*graphic)->SaveFile(OutputName(args[1]));
  else
    picture.AsBitmap()->SaveFile(OutputName(args[1]));
  return 0;
}

int Info(const Args& args) {
  TPicture picture;
  LoadInput(picture, args[0]);
  TGraphic* graphic = picture.Graphic();
  int bits = graphic ? ShownBitCount(*graphic) : 0;
  std::printf("%dx%d %d bpp %s\n", static_cast<int>(picture.Width()), static_cast<int>(picture.Height()),
              bits, graphic ? graphic->ClassName() : "nil");
  return 0;
}

// The plug-ins, found exactly as the viewer finds them: the Susie folder named in the registry,
// then the program's own folder.  A plug-in that lacks a required entry point ends the
// program with its message, as it ends the viewer's start.
void SearchPlugins(TSPIs& plugins) {
  plugins.SetGraphicPreview(false);
  plugins.SetSearchOptions({spsSusieDir, spsAppDir});
  plugins.SettingsApplied();
}

// One line per module in set order, fields separated by tabs: the kind (class name), the
// bitness ("32-bit" or "64-bit"), the full file name, About, then each extension item followed
// by its description.  Then one line per plug-in found but left out: "skipped", its bitness,
// its file name and the reason.
int ListPlugins(const Args&) {
  const TSPIs* plugins = GetSPIs();
  for (int i = 0; plugins && i < plugins->Count(); ++i) {
    const TSPI* spi = plugins->Items(i);
    std::string line =
        std::string(spi->ClassName()) + "\t" + spirun::BitnessText(spirun::BitnessOfFile(spi->FileName())) +
        "\t" + platform::PathToConsole(spi->FileName()) + "\t" + platform::AnsiToConsole(spi->About());
    for (int n = 0; n < spi->Extensions().Count(); ++n)
      line += "\t" + platform::AnsiToConsole(spi->Extensions()[n]) + "\t" +
              platform::AnsiToConsole(spi->Descriptions()[n]);
    line += "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
  }
  for (size_t i = 0; plugins && i < plugins->Skipped().size(); ++i) {
    const TSPIs::TSkipped& skipped = plugins->Skipped()[i];
    const std::string line =
        std::string("skipped\t") + spirun::BitnessText(spirun::BitnessOfFile(skipped.FileName)) + "\t" +
        platform::PathToConsole(skipped.FileName) + "\t" + platform::AnsiToConsole(skipped.Reason) + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
  }
  return 0;
}

// The commands: an option (or none for the plain conversion), its operand count, its action.
struct Command {
  const char* option;
  size_t operands;
  int (*run)(const Args&);
};

const Command kCommands[] = {
    {"--info", 1, Info},
    {"--plugins", 0, ListPlugins},
    {"--list", 1, ListPages},
    {nullptr, 2, Convert},
};

const char kUsage[] =
    "usage: korconv INPUT OUTPUT     convert a picture to a BMP file\n"
    "       korconv --info INPUT     print WIDTHxHEIGHT BPP bpp CLASSNAME\n"
    "       korconv ARCHIVE --list   list the pages of an archive, in the viewer's order\n"
    "       korconv --plugins        list the plug-ins found (kind, bitness, file, about, formats)\n"
    "INPUT may name a page of an archive: ARCHIVE\\ENTRY\n";

// The message part by part: the program's own texts and the names inside them each converted
// from their own code page.
void PrintError(const MixedText& message) {
  std::string text;
  message.ForEachPart([&text](const std::string& part, bool name) {
    text += name ? platform::NameToConsole(part) : platform::AnsiToConsole(part);
  });
  text += "\n";
  std::fwrite(text.data(), 1, text.size(), stderr);
}

void PrintError(const std::string& ownText) { PrintError(MixedText{ownText, {}}); }

int Run(std::vector<std::string> argv) {
  // "ARCHIVE --list" is "--list ARCHIVE".
  if (argv.size() == 2 && argv[1] == "--list") std::swap(argv[0], argv[1]);
  for (const Command& c : kCommands) {
    bool named = c.option && !argv.empty() && argv[0] == c.option;
    if (c.option && !named) continue;
    Args operands(argv.begin() + (named ? 1 : 0), argv.end());
    if (operands.size() != c.operands) break;
    return c.run(operands);
  }
  std::fputs(kUsage, stderr);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  platform::RestrictLibrarySearch();
  const std::vector<std::string> args = platform::CommandArguments(argc, argv);
  try {
    TSPIs plugins(nullptr);
    SearchPlugins(plugins);
    // Without the helper no plug-in is listed or used; BMP still converts.
    bool helperMissing = false;
    try {
      RaiseMissingHelper();
    } catch (const ESPIHelperMissing& e) {
      PrintError(e.Mixed());
      helperMissing = true;
    }
    const int status = Run(args);
    return helperMissing && !args.empty() && args[0] == "--plugins" ? 1 : status;
  } catch (const Exception& e) {
    PrintError(e.Mixed());
  } catch (const std::bad_alloc&) {
    PrintError(msg::kOutOfMemory);
  } catch (const std::exception& e) {
    PrintError(e.what());
  }
  return 1;
}
